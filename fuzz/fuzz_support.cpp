#include "fuzz/fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

namespace kavelo::fuzz {

namespace {

std::string* scratch = nullptr;

void RemoveScratchDir() {
  if (scratch == nullptr) return;
  ClearScratchDir();
  rmdir(scratch->c_str());
}

}  // namespace

const std::string& ScratchDir() {
  if (scratch == nullptr) {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/kavelo-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      perror("kavelo fuzz: mkdtemp");
      abort();
    }
    scratch = new std::string(pattern);
    atexit(RemoveScratchDir);
  }
  return *scratch;
}

std::string WriteScratchFile(const char* name, const uint8_t* data, size_t size) {
  std::string path = ScratchDir() + "/" + name;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    perror("kavelo fuzz: open");
    abort();
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) {
      perror("kavelo fuzz: write");
      abort();
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  return path;
}

void ClearScratchDir() {
  DIR* dir = opendir(ScratchDir().c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") unlink((ScratchDir() + "/" + name).c_str());
  }
  closedir(dir);
}

std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size) {
  std::vector<std::string> texts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      texts.emplace_back();
    } else {
      texts.back().push_back(static_cast<char>(data[i]));
    }
  }
  return texts;
}

std::string AsText(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  return text.substr(0, text.find('\0'));
}

}  // namespace kavelo::fuzz
