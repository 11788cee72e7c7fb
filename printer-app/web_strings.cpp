#include "web_strings.h"

#include <set>

#include "drivers.h"
#include "web_texts.h"

namespace tpa {

const char* const kWebLanguages[] = {"en", "de", "es", "fr", "it", "ja", "nb-NO", "pl", "tr"};
const size_t kWebLanguageCount = sizeof kWebLanguages / sizeof kWebLanguages[0];

namespace {

// A text and its translations (nullptr: the English text).
struct Label {
  const char* key;
  const char* en;
  const char* de;
  const char* es;
  const char* fr;
  const char* it;
  const char* ja;
};

constexpr Label kLabels[] = {
    {"tesvel-manual-duplex", "Two-sided by hand (the printer stops for you to turn the stack)",
     "Beidseitig von Hand (der Drucker hält an, damit Sie den Stapel wenden)",
     "Doble cara manual (la impresora se detiene para que dé la vuelta a la pila)",
     "Recto verso manuel (l'imprimante s'arrête pour que vous retourniez la pile)",
     "Fronte-retro manuale (la stampante si ferma per far girare la pila)",
     "手動両面印刷（用紙の束を裏返すまでプリンターが待機します）"},
    {"tesvel-negative-print", "Negative print (white on black)", "Negativdruck (weiß auf schwarz)",
     "Impresión en negativo (blanco sobre negro)", "Impression en négatif (blanc sur noir)",
     "Stampa in negativo (bianco su nero)", "ネガ印刷（黒地に白）"},
    {"tesvel-image-rotation", "Rotate pages by 180°", "Seiten um 180° drehen", "Girar las páginas 180°",
     "Faire pivoter les pages de 180°", "Ruota le pagine di 180°", "ページを180°回転"},
    {"tesvel-feed-long-edge", "Feed A5 long edge first (the page is turned to match)",
     "A5 mit der langen Kante zuerst einziehen (die Seite wird passend gedreht)",
     "Alimentar A5 por el borde largo (la página se gira en consecuencia)",
     "Introduire l'A5 par le bord long (la page est tournée en conséquence)",
     "Alimenta l'A5 dal lato lungo (la pagina viene ruotata di conseguenza)",
     "A5を長辺から給紙（ページは合わせて回転）"},
    {"tesvel-fine-mode", "Fine mode (the printer's finer printing)", "Feinmodus (feineres Druckbild)",
     "Modo fino (impresión más fina)", "Mode fin (impression plus fine)", "Modalità fine (stampa più fine)",
     "ファインモード（高精細印刷）"},
    {"tesvel-1200dpi-quality", "1200 dpi quality (finer, slower)", "1200-dpi-Qualität (feiner, langsamer)",
     "Calidad de 1200 ppp (más fina, más lenta)", "Qualité 1200 ppp (plus fine, plus lente)",
     "Qualità 1200 dpi (più fine, più lenta)", "1200 dpi品質（高精細、低速）"},
    {"tesvel-blank-suppress", "Skip blank pages", "Leere Seiten überspringen", "Omitir páginas en blanco",
     "Ignorer les pages blanches", "Salta le pagine vuote", "白紙ページを省略"},
    {"tesvel-blank-suppress.off", "Off", "Aus", "Desactivado", "Désactivé", "Disattivato", "オフ"},
    {"tesvel-blank-suppress.on", "On", "Ein", "Activado", "Activé", "Attivato", "オン"},
    {"tesvel-blank-suppress.printer-setting", "As set on the printer", "Wie am Drucker eingestellt",
     "Según el ajuste de la impresora", "Selon le réglage de l'imprimante", "Come impostato sulla stampante",
     "プリンターの設定に従う"},
    // Draft is the printer's toner save: PAPPL's plain "Draft" says nothing
    // of that.  The web pages name the value, IPP clients its number.
    {"print-quality.draft", "Draft (toner save)", "Entwurf (Tonersparmodus)", "Borrador (ahorro de tóner)",
     "Brouillon (économie de toner)", "Bozza (risparmio toner)", "ドラフト（トナー節約）"},
    {"print-quality.3", "Draft (toner save)", "Entwurf (Tonersparmodus)", "Borrador (ahorro de tóner)",
     "Brouillon (économie de toner)", "Bozza (risparmio toner)", "ドラフト（トナー節約）"},
    {"media-source.manual", "Manual feed", "Manuelle Zufuhr", "Alimentación manual", "Alimentation manuelle",
     "Alimentazione manuale", "手差し"},
    {"media-type.stationery", "Plain paper", "Normalpapier", "Papel normal", "Papier ordinaire",
     "Carta comune", "普通紙"},
};

// Paper sizes as the PPDs name them, by PageSize name: the same in every
// language, as on the printer.  The others keep PAPPL's names.
struct SizeLabel {
  const char* ppdName;
  const char* text;
};
constexpr SizeLabel kSizeLabels[] = {
    {"B5", "B5 (JIS)"},       {"IOSB5", "B5 (ISO)"},    {"Folio", "Folio"},
    {"Oficio", "Oficio"},     {"ZL", "ZL"},             {"16K", "16K"},
    {"32K", "32K"},           {"Big16K", "Big 16K"},    {"Big32K", "Big 32K"},
    {"Postcard", "Postcard"}, {"ChinaElectronic", "China Electronic"},
};

const char* text_in(const Label& l, const std::string& language) {
  const char* t = language == "de"   ? l.de
                  : language == "es" ? l.es
                  : language == "fr" ? l.fr
                  : language == "it" ? l.it
                  : language == "ja" ? l.ja
                                     : nullptr;
  return t ? t : l.en;
}

void add_pair(std::string* out, const std::string& key, const std::string& text) {
  *out += "\"" + key + "\" = \"" + text + "\";\n";
}

}  // namespace

std::string webStringsFor(const std::string& language) {
  std::string out;
  for (const Label& l : kLabels) add_pair(&out, l.key, text_in(l, language));
  // PAPPL's English stays; the other languages get ours.
  for (size_t i = 0; i < kPageTextCount; ++i) {
    const WebText& t = kPageTexts[i];
    const char* text = text_in(Label{t.key, nullptr, t.de, t.es, t.fr, t.it, t.ja}, language);
    if (text) add_pair(&out, t.key, text);
  }
  std::set<std::string> seen;
  for (const DriverModel& d : driverModels())
    for (const MediaRow& r : d.media)
      for (const SizeLabel& s : kSizeLabels)
        if (r.ppdName == s.ppdName && seen.insert(r.pwgName).second) add_pair(&out, "media." + r.pwgName, s.text);
  return out;
}

void addWebStrings(pappl_system_t* system) {
  // PAPPL keeps the text: it lives as long as the process.
  static std::string texts[sizeof kWebLanguages / sizeof kWebLanguages[0]];
  for (size_t i = 0; i < kWebLanguageCount; ++i) {
    texts[i] = webStringsFor(kWebLanguages[i]);
    std::string path = std::string("/tesvel/") + kWebLanguages[i] + ".strings";
    papplSystemAddStringsData(system, path.c_str(), kWebLanguages[i], texts[i].c_str());
  }
}

}  // namespace tpa
