#include "shots.h"

namespace tamaril::ui::shots {

void AddDialogShots(std::vector<tShot>& shots) { (void)shots; }

}  // namespace tamaril::ui::shots
