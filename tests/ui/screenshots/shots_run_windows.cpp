#include "shots.h"

namespace tamaril::ui::shots {

void AddRunWindowShots(std::vector<tShot>& shots) { (void)shots; }

}  // namespace tamaril::ui::shots
