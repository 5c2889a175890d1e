#include "replication/file_problem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "text/encoding.h"

namespace tamaril::replication {

std::string SystemReasonText(int error) {
  const auto ansi = [](const char* utf8) { return text::Utf8ToAnsi(utf8); };
  switch (error) {
    case ENOENT: return ansi("soubor neexistuje");
    case EACCES:
    case EPERM: return ansi("přístup odepřen");
    case EISDIR: return ansi("je to složka");
    case ENOTDIR: return ansi("část cesty není složka");
    case ENAMETOOLONG: return ansi("název je příliš dlouhý");
    case ELOOP: return ansi("cesta obsahuje smyčku odkazů");
    case EMFILE:
    case ENFILE: return ansi("příliš mnoho otevřených souborů");
    case EIO: return ansi("chyba vstupu a výstupu");
    case ENOSPC: return ansi("na disku není místo");
    default: return ansi("systémová chyba č. ") + std::to_string(error);
  }
}

std::string FileReadProblem(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SystemReasonText(errno);
  struct stat status {};
  const bool folder = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
  ::close(fd);
  return folder ? SystemReasonText(EISDIR) : std::string();
}

}  // namespace tamaril::replication
