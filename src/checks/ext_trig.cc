#include "shell/main_form.h"

namespace kc {

// Not built yet: the menu entry returns at once and the menu is drawn again.
void MainForm::ExtTrig() {}

}  // namespace kc
