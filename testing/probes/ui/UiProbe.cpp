// ui-probe: drives the window's view models from the command line.
//   plural N [--lang en|ru]                          the download-count text for N, in that
//                                                    language (default: the system's choice)
//   window --count N --frame x,y,w,h --visible x,y,w,h
//                                                    the new window frame (origin bottom left)
//   event --quality Q                                the download button's usage-event name
// Results are printed on lines beginning "=> "; errors go to stderr with exit 2.
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Tavix_YouTube/engine/Quality.h"
#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"
#include "Tavix_YouTube/ui/viewmodels/VideoDownloadScreenModel.h"
#include "Tavix_YouTube/ui/viewmodels/WindowSizeManager.h"
#include "platform/app/Bundle.h"

namespace {

int usage(const std::string& message) {
  std::cerr << "ui-probe: " << message << "\n"
            << "usage: ui-probe plural N [--lang en|ru] | window --count N --frame x,y,w,h --visible x,y,w,h | event --quality Q\n";
  return 2;
}

std::optional<long long> parseInteger(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return value;
}

// Exactly four finite decimal numbers separated by commas.
std::optional<WindowFrame> parseFrame(const std::string& text) {
  std::vector<double> parts;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    double value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || error != std::errc() || end != part.data() + part.size() || !std::isfinite(value)) {
      return std::nullopt;
    }
    parts.push_back(value);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (parts.size() != 4) return std::nullopt;
  return WindowFrame{parts[0], parts[1], parts[2], parts[3]};
}

// Shortest text that reads back as the same double (no rounding to six digits).
std::string number(double value) {
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

// "--name value" pairs after the command.
std::optional<std::map<std::string, std::string>> options(int argc, char** argv, int from) {
  std::map<std::string, std::string> result;
  for (int i = from; i < argc; i += 2) {
    const std::string name = argv[i];
    if (name.rfind("--", 0) != 0 || i + 1 >= argc) return std::nullopt;
    result[name.substr(2)] = argv[i + 1];
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage("missing command");
  const std::string command = argv[1];
  if (command == "plural") {
    if (argc != 3 && argc != 5) return usage("plural takes one number and an optional --lang");
    auto n = parseInteger(argv[2]);
    if (!n) return usage("not a number: " + std::string(argv[2]));
    if (argc == 5) {
      const std::string option = argv[3];
      const std::string language = argv[4];
      if (option != "--lang") return usage("unknown option: " + option);
      if (language != "en" && language != "ru") return usage("--lang is en or ru, not: " + language);
      platform::Bundle::setMain(std::make_shared<platform::Bundle>(platform::Bundle::defaultResourcePath(),
                                                                   std::vector<std::string>{language}));
    }
    std::cout << "=> " << downloadsCountText(*n) << std::endl;
    return 0;
  }
  if (command == "window") {
    auto opts = options(argc, argv, 2);
    if (!opts || !opts->count("count") || !opts->count("frame") || !opts->count("visible")) {
      return usage("window needs --count, --frame and --visible");
    }
    auto n = parseInteger(opts->at("count"));
    auto frame = parseFrame(opts->at("frame"));
    auto visible = parseFrame(opts->at("visible"));
    if (!n || !frame || !visible) return usage("bad number or frame (x,y,w,h)");
    const WindowFrame result = WindowSizeManager::targetFrame(*n, *frame, *visible);
    std::cout << "=> " << number(result.x) << "," << number(result.y) << "," << number(result.width) << ","
              << number(result.height) << std::endl;
    return 0;
  }
  if (command == "event") {
    auto opts = options(argc, argv, 2);
    if (!opts || !opts->count("quality")) return usage("event needs --quality");
    auto quality = tavix::Quality::fromRawValue(opts->at("quality"));
    if (!quality) return usage("unknown quality: " + opts->at("quality"));
    std::cout << "=> " << tavix::VideoDownloadScreenModel::downloadEventName(*quality) << std::endl;
    return 0;
  }
  return usage("unknown command: " + command);
}
