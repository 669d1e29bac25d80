#include "output/writer.h"

#include "output/json.h"
#include "output/openmetrics.h"
#include "output/plugin_line.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>

#include "check/text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace brevun::output {

std::string Document(Format format, const measure::Measurement& measurement,
                     const measure::Judgement& judgement, const measure::Criteria& criteria) {
  switch (format) {
    case Format::kJson:
      return JsonDocument(measurement, judgement, criteria);
    case Format::kOpenMetrics:
      return OpenMetricsText(measurement, judgement, criteria);
    case Format::kPlugin:
      break;
  }
  return PluginLine(measurement, judgement, criteria) + "\n";
}

std::string TemporaryPath(const std::string& path) {
#ifdef _WIN32
  return path + "." + std::to_string(_getpid()) + ".tmp";
#else
  return path + "." + std::to_string(getpid()) + ".tmp";
#endif
}

bool WriteAtomically(const char* path, const char* temporaryPath, const char* text,
                     std::size_t size) {
#ifdef _WIN32
  // The paths are UTF-8, as every argument of the program; Windows names files in UTF-16.
  const std::u16string wide = FromUtf8(temporaryPath);
  const auto* name = reinterpret_cast<const wchar_t*>(wide.c_str());
  const HANDLE file =
      CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, text, static_cast<DWORD>(size), &written, nullptr);
  const BOOL closed = CloseHandle(file);
  const std::u16string target = FromUtf8(path);
  if (!wrote || written != size || !closed ||
      !MoveFileExW(name, reinterpret_cast<const wchar_t*>(target.c_str()),
                   MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(name);
    return false;
  }
  return true;
#else
  const int fd = open(temporaryPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // Readable by the collector whatever the umask of the job that runs us (a cron job's is
  // often 077, and node_exporter runs as a user of its own). Nothing in it is secret.
  fchmod(fd, 0644);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, text + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0 || done < size || rename(temporaryPath, path) != 0) {
    const int why = done < size && errno == 0 ? EIO : errno;
    unlink(temporaryPath);
    errno = why;
    return false;
  }
  return true;
#endif
}

}  // namespace brevun::output
