#pragma once

#include <vector>

namespace tamaril::ui {

/// One hand-written page of the help: its file name, its title and its body (UTF-8 HTML, the
/// part between <body> and </body>); sections carry anchors that the windows' help refers to.
struct tWrittenHelpPage {
  const char* file_name;
  const char* title;
  const char* body;
};

/// The help pages about the windows, the setup and the command-line program, in contents order.
const std::vector<tWrittenHelpPage>& WrittenHelpPages();

}  // namespace tamaril::ui
