#include "web/FileReply.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "web/HttpJson.h"

namespace web {

namespace {

struct OpenFile {
  int fd = -1;
  ~OpenFile() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

bool ReplyFile(httplib::Response& res, const std::string& path, const std::string& mimeType,
               const std::string& downloadName) {
  auto file = std::make_shared<OpenFile>();
  file->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (file->fd < 0 || fstat(file->fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ReplyError(res, 404, "the file is not on disk");
    return false;
  }
  if (!downloadName.empty()) {
    res.set_header("Content-Disposition", "attachment; filename*=UTF-8''" + PercentEncoded(downloadName));
  }
  res.set_header("Accept-Ranges", "bytes");
  res.set_header("Cache-Control", "no-store");
  res.set_content_provider(
      static_cast<size_t>(info.st_size), mimeType,
      [file](size_t offset, size_t length, httplib::DataSink& sink) {
        std::vector<char> buffer(std::min<size_t>(length, 256 * 1024));
        const ssize_t got = pread(file->fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        // A file that shrank while being sent ends the answer early.
        if (got <= 0) return false;
        return sink.write(buffer.data(), static_cast<size_t>(got));
      });
  return true;
}

}  // namespace web
