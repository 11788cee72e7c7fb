#include "web_client.h"

#include <algorithm>
#include <cmath>
#include <regex>
#include <set>

#include <cups/cups.h>

#include "app_server.h"

namespace testing_support {

WebAnswer web(int port, const std::string& path, const std::string& password, const std::string& form,
              const std::string& language) {
  WebAnswer a;
  http_t* http = connectLoopback(port);
  if (!http) return a;
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_HOST, "localhost");
  httpSetField(http, HTTP_FIELD_ACCEPT_LANGUAGE, language.c_str());
  if (!password.empty()) {
    std::string pair = "admin:" + password;
    char encoded[256];
    httpEncode64_2(encoded, sizeof encoded, pair.c_str(), static_cast<int>(pair.size()));
    httpSetField(http, HTTP_FIELD_AUTHORIZATION, (std::string("Basic ") + encoded).c_str());
  }
  bool post = !form.empty();
  if (post) {
    httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/x-www-form-urlencoded");
    httpSetLength(http, form.size());
  }
  bool sent = (post ? httpPost(http, path.c_str()) : httpGet(http, path.c_str())) == 0 &&
              (!post || httpWrite2(http, form.data(), form.size()) == static_cast<ssize_t>(form.size()));
  if (sent) {
    http_status_t s;
    while ((s = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
    }
    a.status = s;
    a.location = httpGetField(http, HTTP_FIELD_LOCATION);
    char buf[4096];
    ssize_t n;
    while ((n = httpRead2(http, buf, sizeof buf)) > 0) a.body.append(buf, static_cast<size_t>(n));
  }
  httpClose(http);
  return a;
}

std::string sessionToken(int port, const std::string& path) {
  std::string page = web(port, path, "").body;
  const std::string mark = "name=\"session\" value=\"";
  size_t at = page.find(mark);
  return at == std::string::npos ? "" : page.substr(at + mark.size(), 64);
}

namespace {

std::string decoded(std::string s) {
  static const std::pair<const char*, const char*> entities[] = {
      {"&nbsp;", " "}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&deg;", "°"}, {"&amp;", "&"}};
  for (const auto& [from, to] : entities)
    for (size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, std::string(from).size(), to);
  return s;
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// The pages write attributes in lower case, quoted with '"'.
std::string attribute(const std::string& tag, const std::string& name) {
  for (char before : {' ', '\n'}) {
    size_t at = tag.find(std::string(1, before) + name + "=\"");
    if (at == std::string::npos) continue;
    at += name.size() + 3;
    return tag.substr(at, tag.find('"', at) - at);
  }
  return "";
}

bool has_attribute(const std::string& tag, const std::string& name) {
  for (const char* after : {"=", " ", ">"})
    if (tag.find(" " + name + after) != std::string::npos) return true;
  return false;
}

std::string without_scripts(const std::string& html) {
  static const std::regex blocks("<(script|style)[^>]*>[\\s\\S]*?</\\1>", std::regex::icase);
  return std::regex_replace(html, blocks, " ");
}

}  // namespace

std::vector<std::string> pageTexts(const std::string& html) {
  std::vector<std::string> out;
  std::string body = without_scripts(html);
  static const std::regex tag("<([a-zA-Z!/][^>]*)>");
  size_t last = 0;
  for (std::sregex_iterator it(body.begin(), body.end(), tag), end; it != end; ++it) {
    std::string between = trimmed(decoded(body.substr(last, static_cast<size_t>(it->position()) - last)));
    if (!between.empty()) out.push_back(between);
    last = static_cast<size_t>(it->position() + it->length());
    std::string t = it->str();
    bool button = t.rfind("<input", 0) == 0 && (attribute(t, "type") == "submit" || attribute(t, "type") == "button");
    for (const char* a : {"placeholder", "alt", "title"})
      if (!attribute(t, a).empty()) out.push_back(trimmed(decoded(attribute(t, a))));
    if (button && !attribute(t, "value").empty()) out.push_back(trimmed(decoded(attribute(t, "value"))));
  }
  return out;
}

std::vector<std::string> unlabelledControls(const std::string& html) {
  std::string body = without_scripts(html);
  std::set<std::string> labelled;
  static const std::regex label_for("<label[^>]*\\sfor=\"([^\"]+)\"", std::regex::icase);
  for (std::sregex_iterator it(body.begin(), body.end(), label_for), end; it != end; ++it)
    labelled.insert((*it)[1].str());
  std::vector<std::string> out;
  static const std::regex control("<(input|select|textarea|img)\\b[^>]*>", std::regex::icase);
  for (std::sregex_iterator it(body.begin(), body.end(), control), end; it != end; ++it) {
    std::string t = it->str();
    std::string type = attribute(t, "type");
    if (type == "hidden" || type == "submit" || type == "button") continue;
    if ((*it)[1].str() == "img") {
      if (!has_attribute(t, "alt")) out.push_back(t);
      continue;
    }
    if (!attribute(t, "aria-label").empty() || labelled.count(attribute(t, "id"))) continue;
    // A label around it: the last <label> before it is still open.
    size_t at = static_cast<size_t>(it->position());
    size_t open = body.rfind("<label", at), close = body.rfind("</label>", at);
    if (open != std::string::npos && (close == std::string::npos || close < open)) continue;
    out.push_back(t);
  }
  return out;
}

std::vector<std::string> outsideAddresses(const std::string& text) {
  std::vector<std::string> out;
  static const std::regex address("(https?:)?//([A-Za-z0-9.-]+|\\[[0-9A-Fa-f:]+\\])[^\\s\"')]*");
  for (std::sregex_iterator it(text.begin(), text.end(), address), end; it != end; ++it) {
    std::string host = (*it)[2].str();
    if (host == "localhost" || host.rfind("127.", 0) == 0 || host == "[::1]" || host == "www.w3.org") continue;
    if ((*it)[1].str().empty() && it->position() > 0 && text[static_cast<size_t>(it->position()) - 1] != '"' &&
        text[static_cast<size_t>(it->position()) - 1] != '\'' && text[static_cast<size_t>(it->position()) - 1] != '(')
      continue;  // "//" inside a comment or text, not an address
    out.push_back(it->str());
  }
  return out;
}

namespace {

// A CSS colour as red, green, blue in 0..1 (false when not one we read).
bool parse_colour(const std::string& v, double rgb[3]) {
  std::smatch m;
  if (v == "white" || v == "black") {
    rgb[0] = rgb[1] = rgb[2] = v == "white" ? 1 : 0;
    return true;
  }
  if (std::regex_match(v, m, std::regex("#([0-9a-fA-F]{3}|[0-9a-fA-F]{6})"))) {
    std::string h = m[1].str();
    if (h.size() == 3) h = {h[0], h[0], h[1], h[1], h[2], h[2]};
    for (int i = 0; i < 3; ++i) rgb[i] = std::stoi(h.substr(2 * i, 2), nullptr, 16) / 255.0;
    return true;
  }
  if (std::regex_match(v, m, std::regex("rgba?\\((\\d+),\\s*(\\d+),\\s*(\\d+)(,\\s*([0-9.]+))?\\)"))) {
    double alpha = m[5].matched ? std::stod(m[5].str()) : 1;
    for (int i = 0; i < 3; ++i) rgb[i] = std::stoi(m[i + 1].str()) / 255.0 * alpha + (1 - alpha);
    return true;
  }
  return false;
}

double luminance(const double rgb[3]) {
  double l[3];
  for (int i = 0; i < 3; ++i) l[i] = rgb[i] <= 0.03928 ? rgb[i] / 12.92 : std::pow((rgb[i] + 0.055) / 1.055, 2.4);
  return 0.2126 * l[0] + 0.7152 * l[1] + 0.0722 * l[2];
}

}  // namespace

std::vector<std::string> lowContrastRules(const std::string& css) {
  std::vector<std::string> out;
  static const std::regex rule("([^{}]+)\\{([^{}]*)\\}");
  static const std::regex fg("(^|[;\\s])color:\\s*([^;]+);"), bg("background(-color)?:\\s*([^;\\s]+(\\([^)]*\\))?)");
  for (std::sregex_iterator it(css.begin(), css.end(), rule), end; it != end; ++it) {
    std::string body = (*it)[2].str();
    std::smatch f, b;
    double text[3], back[3];
    if (!std::regex_search(body, f, fg) || !std::regex_search(body, b, bg) || !parse_colour(trimmed(f[2].str()), text) ||
        !parse_colour(trimmed(b[2].str()), back))
      continue;
    double l1 = luminance(text), l2 = luminance(back);
    double ratio = (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
    if (ratio < 4.5) out.push_back(trimmed((*it)[1].str()) + ": " + std::to_string(ratio));
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> selectOptions(const std::string& html, const std::string& name) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t at = html.find("<select name=\"" + name + "\"");
  if (at == std::string::npos) return out;
  std::string select = html.substr(at, html.find("</select>", at) - at);
  static const std::regex option("<option value=\"([^\"]*)\"[^>]*>([^<]*)</option>");
  for (std::sregex_iterator it(select.begin(), select.end(), option), end; it != end; ++it)
    out.emplace_back((*it)[1].str(), decoded((*it)[2].str()));
  return out;
}

}  // namespace testing_support
