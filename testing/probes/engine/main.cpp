// engine-probe: a thin command-line driver of the download engine, for tests
// and diagnosis. The engine's console lines pass through unchanged; the
// probe's own results are lines beginning with "=> ". Qualities are given by
// case name (mp3, p360, p480, p720, p1080, best).
//
//   engine-probe args --quality Q URL
//   engine-probe clean TEXT
//   engine-probe parse                     (standard input, chunks split at \f)
//   engine-probe classify --exit N         (standard input: the error text)
//   engine-probe formatbytes N
//   engine-probe filename --title T --label L --ext E
//   engine-probe download --quality Q URL [URL ...]
//   engine-probe session                   (standard input: one step a line)
//
// download runs until no item is queued or downloading and every title query
// has ended, then prints one "=> item" line per item. session drives one
// manager through these steps, items numbered from 1 in order of adding:
//
//   add Q URL | pause I | cancel I | retry I | remove I
//   wait SECONDS      pump the main queue for that long
//   settle SECONDS    pump until nothing is queued, downloading or querying
//                     a title, at most that long
//   dump              => item I status=CASE progress=%.2f stage=[...]
//                        error=[...] file=[...] title=[...]
//   files             => file NAME SIZE, for every file of the download
//                        folder, sorted by name
//
// A step it cannot read ends the session with "=> error ..." and status 2.
// At the end of its input (or on such an error) the session stops every
// process its downloads started, as the application does when it quits.
//
// The bundle is that of APP_RESOURCES; files go below the current HOME.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Tavix_YouTube/engine/DownloadManager.h"
#include "Tavix_YouTube/engine/Utf8ChunkDecoder.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/log/Console.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Json.h"
#include "platform/storage/StandardFolders.h"
#include "platform/text/NumberText.h"

namespace {

using tavix::DownloadItem;
using tavix::DownloadManager;
using tavix::DownloadStatus;
using tavix::Quality;

void result(const std::string& text) { platform::console::line("=> " + text); }

int usage() {
  std::fprintf(stderr,
               "usage: engine-probe args --quality Q URL | clean TEXT | parse | classify --exit N | formatbytes N |\n"
               "       filename --title T --label L --ext E | download --quality Q URL [URL ...] | session\n");
  return 2;
}

// A manager made quietly, for the subcommands that show the lines of one
// operation only: its construction's queue step is not part of them.
std::shared_ptr<DownloadManager> quietManager() {
  platform::console::Writer previous = platform::console::setWriter([](std::string_view) {});
  auto manager = DownloadManager::create();
  platform::console::setWriter(previous);
  return manager;
}

// Options "--name value" and the remaining positional arguments.
struct Arguments {
  std::map<std::string, std::string> options;
  std::vector<std::string> positional;
};

Arguments parseArguments(int argc, char** argv, int first) {
  Arguments parsed;
  for (int i = first; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--", 0) == 0 && arg.size() > 2 && i + 1 < argc) {
      parsed.options[arg.substr(2)] = argv[++i];
    } else {
      parsed.positional.push_back(arg);
    }
  }
  return parsed;
}

std::string readStandardInput() {
  return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
}

int args(const Arguments& a) {
  auto quality = a.options.count("quality") ? Quality::fromRawValue(a.options.at("quality")) : std::nullopt;
  if (!quality || a.positional.size() != 1) return usage();
  auto manager = quietManager();
  std::optional<std::vector<std::string>> argv;
  manager->setLauncher([&argv](platform::Task& process) -> std::optional<platform::Error> {
    argv = std::vector<std::string>{process.executablePath()};
    argv->insert(argv->end(), process.arguments().begin(), process.arguments().end());
    return platform::Error::make("engine-probe", 1, "not launched");
  });
  auto item = std::make_shared<DownloadItem>(a.positional[0], *quality);
  manager->startDownload(item);
  if (!argv) {
    result("error " + item->errorMessage.get());
    return 1;
  }
  platform::Array words;
  for (const std::string& word : *argv) words.append(platform::Value(word));
  result(platform::Json::serialize(platform::Value(words)).value());
  return 0;
}

int parse() {
  auto manager = quietManager();
  DownloadItem item("", Quality::best);
  tavix::Utf8ChunkDecoder decoder;
  std::string input = readStandardInput();
  size_t start = 0;
  while (start <= input.size()) {
    size_t end = input.find('\f', start);
    if (end == std::string::npos) end = input.size();
    std::string chunk = input.substr(start, end - start);
    if (!chunk.empty()) {
      if (std::optional<std::string> text = decoder.decode(chunk)) manager->parseOutput(*text, item);
    }
    char progress[64];
    std::snprintf(progress, sizeof progress, "%.2f", item.progress.get());
    result(std::string("progress=") + progress + " size=[" + item.fileSize.get() + "] speed=[" + item.speed.get() +
           "] stage=[" + item.downloadStage.get() + "]");
    start = end + 1;
  }
  return 0;
}

int classify(const Arguments& a) {
  auto status = a.options.count("exit") ? platform::NumberText::parseInt64(a.options.at("exit")) : std::nullopt;
  if (!status) return usage();
  result(DownloadManager::classifyError(readStandardInput(), static_cast<int>(*status)));
  return 0;
}

int formatBytes(const Arguments& a) {
  if (a.positional.size() != 1) return usage();
  auto count = platform::NumberText::parseDouble(a.positional[0]);
  if (!count) return usage();
  result(DownloadManager::formatBytes(*count));
  return 0;
}

int filename(const Arguments& a) {
  if (!a.options.count("label") || !a.options.count("ext")) return usage();
  auto manager = quietManager();
  std::string title = a.options.count("title") ? a.options.at("title") : std::string();
  result(manager->createUniqueFilename(title, a.options.at("label"), a.options.at("ext")));
  return 0;
}

// Something is still to happen: an item queued or downloading, a downloader
// whose end is not handled, or a title query that has not ended.
bool busy(const DownloadManager& manager) {
  for (const auto& item : manager.downloads.get()) {
    DownloadStatus status = item->status.get();
    if (status == DownloadStatus::queued || status == DownloadStatus::downloading) return true;
  }
  return manager.currentDownloadCount() > 0 || manager.titleQueryCount() > 0;
}

// Everything the predicates look at changes on the main queue: no polling.
void settle(const DownloadManager& manager, double seconds) {
  platform::MainQueue::runUntilAfterWork([&] { return !busy(manager); }, seconds);
  platform::MainQueue::drain();
}

int download(const Arguments& a) {
  auto quality = a.options.count("quality") ? Quality::fromRawValue(a.options.at("quality")) : std::nullopt;
  if (!quality || a.positional.empty()) return usage();
  // A real manager, console lines and all (its construction runs the queue step once).
  auto manager = DownloadManager::create();
  for (const std::string& url : a.positional) manager->addDownload(url, *quality);
  settle(*manager, 24 * 3600);
  int index = 1;
  for (const auto& item : manager->downloads.get()) {
    result("item " + std::to_string(index++) + " status=" + std::string(item->status.get().caseName()) + " error=[" +
           item->errorMessage.get() + "] file=[" + item->filePath.get() + "] title=[" + item->displayTitle.get() +
           "]");
  }
  return 0;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at < line.size()) {
    size_t start = line.find_first_not_of(" \t\r", at);
    if (start == std::string::npos) break;
    size_t end = line.find_first_of(" \t\r", start);
    if (end == std::string::npos) end = line.size();
    parts.push_back(line.substr(start, end - start));
    at = end;
  }
  return parts;
}

int runSession(DownloadManager& manager);

int session() {
  auto manager = DownloadManager::create();
  const int status = runSession(*manager);
  manager->stopProcesses();
  return status;
}

int runSession(DownloadManager& managerRef) {
  DownloadManager* manager = &managerRef;
  std::vector<std::shared_ptr<DownloadItem>> items;  // in order of adding, kept after removal
  auto fail = [](const std::string& step, const std::string& why) {
    result("error " + why + ": " + step);
    return 2;
  };
  for (std::string step; std::getline(std::cin, step);) {
    std::vector<std::string> w = words(step);
    if (w.empty()) continue;
    const std::string& verb = w[0];
    if (verb == "add") {
      auto quality = w.size() == 3 ? Quality::fromRawValue(w[1]) : std::nullopt;
      if (!quality) return fail(step, "expected add QUALITY URL");
      manager->addDownload(w[2], *quality);
      items.push_back(manager->downloads.get().back());
    } else if (verb == "pause" || verb == "cancel" || verb == "retry" || verb == "remove") {
      auto number = w.size() == 2 ? platform::NumberText::parseInt64(w[1]) : std::nullopt;
      if (!number || *number < 1 || static_cast<size_t>(*number) > items.size()) return fail(step, "no such item");
      const auto& item = items[static_cast<size_t>(*number) - 1];
      if (verb == "pause") item->pause();
      if (verb == "cancel") item->cancel();
      if (verb == "retry") item->retry();
      if (verb == "remove") manager->removeDownload(item->id);
    } else if (verb == "wait" || verb == "settle") {
      auto seconds = w.size() == 2 ? platform::NumberText::parseDouble(w[1]) : std::nullopt;
      if (!seconds || !(*seconds >= 0)) return fail(step, "expected " + verb + " SECONDS");
      if (verb == "wait") {
        platform::MainQueue::runUntilAfterWork(nullptr, *seconds);
      } else {
        settle(*manager, *seconds);
      }
    } else if (verb == "dump" && w.size() == 1) {
      for (size_t i = 0; i < items.size(); ++i) {
        const DownloadItem& item = *items[i];
        char progress[64];
        std::snprintf(progress, sizeof progress, "%.2f", item.progress.get());
        result("item " + std::to_string(i + 1) + " status=" + std::string(item.status.get().caseName()) +
               " progress=" + progress + " stage=[" + item.downloadStage.get() + "] error=[" +
               item.errorMessage.get() + "] file=[" + item.filePath.get() + "] title=[" + item.displayTitle.get() +
               "]");
      }
    } else if (verb == "files" && w.size() == 1) {
      const std::string folder = platform::StandardFolders::expandTilde(manager->downloadFolder.get());
      auto names = platform::fs::contentsOfDirectory(folder);
      if (names.ok()) {
        for (const std::string& name : names.value()) {
          auto attributes = platform::fs::attributes(folder + "/" + name);
          if (!attributes.ok() || attributes.value().isDirectory) continue;
          result("file " + name + " " + std::to_string(attributes.value().size));
        }
      }
    } else {
      return fail(step, "unknown step");
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string command = argv[1];
  Arguments a = parseArguments(argc, argv, 2);
  if (command == "args") return args(a);
  if (command == "clean") return a.positional.size() == 1 ? (result(quietManager()->cleanURL(a.positional[0])), 0) : usage();
  if (command == "parse") return parse();
  if (command == "classify") return classify(a);
  if (command == "formatbytes") return formatBytes(a);
  if (command == "filename") return filename(a);
  if (command == "download") return download(a);
  if (command == "session") return argc == 2 ? session() : usage();
  return usage();
}
