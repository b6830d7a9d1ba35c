// Checked writes and regular-file opens.
#include "image/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool write_all(int fd, const std::uint8_t* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(fd, data + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

bool write_new_file(const char* name, std::initializer_list<std::span<const std::uint8_t>> parts) {
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return false;
  bool ok = true;
  for (const auto& part : parts) ok = ok && write_all(fd, part.data(), part.size());
  ok = (::close(fd) == 0) && ok;
  if (!ok) std::remove(name);
  return ok;
}

std::FILE* open_regular_for_reading(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return nullptr;
  }
  return f;
}
