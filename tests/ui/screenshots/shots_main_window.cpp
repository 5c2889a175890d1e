#include "shots.h"

namespace tamaril::ui::shots {

void AddMainWindowShots(std::vector<tShot>& shots) { (void)shots; }

}  // namespace tamaril::ui::shots
