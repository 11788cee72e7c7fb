// The web interface as a browser meets it: pages fetched and forms posted
// over a plain HTTP connection, and what a page shows a person (its text,
// its controls and their labels, what it loads).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct WebAnswer {
  int status = 0;
  std::string body;
  std::string location;  // of a redirect
};

// A GET, or a POST of `form` (application/x-www-form-urlencoded), with the
// password under HTTP Basic authentication (user "admin") when one is given.
WebAnswer web(int port, const std::string& path, const std::string& password, const std::string& form = "",
              const std::string& language = "en");

// The form token a page hands the browser (the "session" field).
std::string sessionToken(int port, const std::string& path = "/");

// The texts a person reads on a page: text between tags (scripts and
// styles left out) and the words of buttons, placeholders and alt texts,
// each trimmed, entities decoded.
std::vector<std::string> pageTexts(const std::string& html);

// What a page gets wrong for a person who cannot see it: each control
// (input other than hidden and submit, select, textarea) without a label
// (`<label for>` naming its id, a label around it, or aria-label), each
// image without an alt text.  Empty when none.
std::vector<std::string> unlabelledControls(const std::string& html);

// Every address a page or style sheet loads or links to that is on another
// host (http:, https: or protocol-relative, other than the XML namespaces
// of inline pictures).
std::vector<std::string> outsideAddresses(const std::string& text);

// The rules of a style sheet that set both a text colour and a background
// whose contrast is below 4.5:1 (a translucent background taken over
// white), each with its ratio.
std::vector<std::string> lowContrastRules(const std::string& css);

// The options of the select named `name`: (value, text) pairs.
std::vector<std::pair<std::string, std::string>> selectOptions(const std::string& html, const std::string& name);

}  // namespace testing_support
