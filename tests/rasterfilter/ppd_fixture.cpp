#include "ppd_fixture.h"

std::string makePpdText(const std::string& model, const std::string& extra) {
  return "*PPD-Adobe: \"4.3\"\n"
         "*FormatVersion: \"4.3\"\n"
         "*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n"
         "*PCFileName: \"TEST.PPD\"\n"
         "*Manufacturer: \"Tesvel\"\n"
         "*Product: \"(Test)\"\n"
         "*ModelName: \"" + model + "\"\n"
         "*ShortNickName: \"" + model + "\"\n"
         "*NickName: \"" + model + "\"\n"
         "*PSVersion: \"(3010.000) 0\"\n"
         "*LanguageLevel: \"3\"\n"
         "*ColorDevice: False\n"
         "*DefaultColorSpace: Gray\n"
         "*FileSystem: False\n"
         "*Throughput: \"1\"\n"
         "*LandscapeOrientation: Plus90\n"
         "*TTRasterizer: Type42\n" +
         extra;
}

std::string ppdOption(const std::string& keyword, const std::string& def,
                      std::initializer_list<const char*> choices) {
  std::string s = "*OpenUI *" + keyword + ": PickOne\n*Default" + keyword + ": " + def + "\n";
  for (const char* c : choices) s += "*" + keyword + " " + c + ": \"\"\n";
  s += "*CloseUI: *" + keyword + "\n";
  return s;
}
