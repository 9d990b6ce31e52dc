// fake-downloader: a stand-in for the command-line downloader in tests.
//
// It appends its argument vector (argv[0] included) as one JSON array line to
// the file named by FAKE_DOWNLOADER_RECORD, then plays the scenario file named
// by FAKE_DOWNLOADER_SCENARIO, one command per line:
//
//   out TEXT          write TEXT to standard output (escapes: \n \r \t \f \\ \xHH)
//   err TEXT          write TEXT to standard error (same escapes)
//   sleep SECONDS     pause
//   wait PATH         wait until PATH exists (polls; gives up after 60 s)
//   touch PATH        create PATH (a signal for the test)
//   output BYTES      create the file named by the "--output" argument ("~"
//                     expanded with HOME) holding BYTES bytes
//   copy PATH [BYTES] create that file as a copy of PATH, or of its first
//                     BYTES bytes (a real clip, whole or cut)
//   sibling SUFFIX BYTES  create a working file beside it: that path without
//                     its extension, then SUFFIX (".f137.mp4.part", ...)
//   child PIDFILE     start a child that writes its pid to PIDFILE and then
//                     sleeps; it stands for a media tool started by the downloader
//   pid PIDFILE       write this process's pid to PIDFILE
//   enter DIR         mark this process as running in DIR (a file named by
//                     its pid), then append the number of marks now in DIR
//                     as a line to DIR.counts (how many run at once)
//   leave DIR         remove this process's mark from DIR
//   exit N            exit with status N (the end of the scenario exits 0)
//   signal N          end by signal N
//
// A line may start with "@TEXT " to apply only when the last argument (the
// address) contains TEXT. In title-query mode ("--get-title" among the
// arguments) only lines starting with "title " run (with that word removed);
// in download mode those lines are skipped. Empty lines and "#" lines are
// comments. Writes go out unbuffered, one write per command, so each "out"
// is one chunk on the pipe.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    switch (c) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'f': out += '\f'; break;
      case '\\': out += '\\'; break;
      case 'x':
        if (i + 2 < text.size()) {
          out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
          i += 2;
        }
        break;
      default: out += '\\'; out += c;
    }
  }
  return out;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Written aside and renamed, so the file never exists without its pid.
void writePidFile(const std::string& path) {
  const std::string text = std::to_string(::getpid()) + "\n";
  const std::string aside = path + ".writing";
  int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  writeAll(fd, text);
  ::close(fd);
  ::rename(aside.c_str(), path.c_str());
}

std::string expandHome(const std::string& path) {
  const char* home = std::getenv("HOME");
  if (home && (path == "~" || path.rfind("~/", 0) == 0)) return home + path.substr(1);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (const char* record = std::getenv("FAKE_DOWNLOADER_RECORD"); record && *record) {
    std::string line = "[";
    for (size_t i = 0; i < args.size(); ++i) line += (i ? "," : "") + jsonString(args[i]);
    line += "]\n";
    int fd = ::open(record, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      writeAll(fd, line);
      ::close(fd);
    }
  }
  bool titleMode = false;
  std::string outputPath;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--get-title") titleMode = true;
    if (args[i] == "--output" && i + 1 < args.size()) outputPath = expandHome(args[i + 1]);
  }
  const std::string address = args.size() > 1 ? args.back() : std::string();

  const char* scenarioPath = std::getenv("FAKE_DOWNLOADER_SCENARIO");
  if (!scenarioPath) return 0;
  std::ifstream scenario(scenarioPath);
  std::string line;
  while (std::getline(scenario, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '@') {
      size_t space = line.find(' ');
      if (space == std::string::npos) continue;
      if (address.find(line.substr(1, space - 1)) == std::string::npos) continue;
      line = line.substr(space + 1);
    }
    bool titleLine = line.rfind("title ", 0) == 0;
    if (titleLine != titleMode) continue;
    if (titleLine) line = line.substr(6);
    size_t space = line.find(' ');
    std::string command = line.substr(0, space);
    std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (command == "out") {
      writeAll(1, unescape(rest));
    } else if (command == "err") {
      writeAll(2, unescape(rest));
    } else if (command == "sleep") {
      std::this_thread::sleep_for(std::chrono::duration<double>(std::atof(rest.c_str())));
    } else if (command == "wait") {
      for (int i = 0; i < 6000 && ::access(rest.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    } else if (command == "touch") {
      int fd = ::open(rest.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd >= 0) ::close(fd);
    } else if (command == "output") {
      int fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd >= 0) {
        writeAll(fd, std::string(static_cast<size_t>(std::atoll(rest.c_str())), 'x'));
        ::close(fd);
      }
    } else if (command == "copy") {
      const size_t gap = rest.find(' ');
      std::ifstream source(rest.substr(0, gap), std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());
      if (gap != std::string::npos) bytes.resize(std::min(bytes.size(), size_t(std::atoll(rest.c_str() + gap + 1))));
      int fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd >= 0) {
        writeAll(fd, bytes);
        ::close(fd);
      }
    } else if (command == "sibling") {
      size_t gap = rest.find(' ');
      size_t slash = outputPath.rfind('/');
      size_t dot = outputPath.rfind('.');
      std::string base = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                             ? outputPath : outputPath.substr(0, dot);
      std::string path = base + rest.substr(0, gap);
      int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd >= 0) {
        size_t bytes = gap == std::string::npos ? 0 : static_cast<size_t>(std::atoll(rest.c_str() + gap + 1));
        writeAll(fd, std::string(bytes, 'p'));
        ::close(fd);
      }
    } else if (command == "enter" || command == "leave") {
      const std::string mark = rest + "/" + std::to_string(::getpid());
      if (command == "leave") {
        ::unlink(mark.c_str());
        continue;
      }
      ::mkdir(rest.c_str(), 0755);
      int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd >= 0) ::close(fd);
      size_t marks = 0;
      if (DIR* dir = ::opendir(rest.c_str())) {
        while (dirent* entry = ::readdir(dir)) marks += entry->d_name[0] != '.';
        ::closedir(dir);
      }
      fd = ::open((rest + ".counts").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (fd >= 0) {
        writeAll(fd, std::to_string(marks) + "\n");
        ::close(fd);
      }
    } else if (command == "child") {
      pid_t pid = ::fork();
      if (pid == 0) {
        // Leave the pipes so the parent's end is seen at once.
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        writePidFile(rest);
        for (int i = 0; i < 600; ++i) ::sleep(1);
        ::_exit(0);
      }
      // Let the child write its pid before going on.
      for (int i = 0; i < 500 && ::access(rest.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    } else if (command == "pid") {
      writePidFile(rest);
    } else if (command == "exit") {
      return std::atoi(rest.c_str());
    } else if (command == "signal") {
      int number = std::atoi(rest.c_str());
      ::signal(number, SIG_DFL);
      ::raise(number);
      return 128 + number;
    }
  }
  return 0;
}
