#ifndef QUOTELOOM_SHELL_VISUAL_STYLES_H
#define QUOTELOOM_SHELL_VISUAL_STYLES_H

#include <QString>
#include <vector>

// The application looks (commands 205 to 219) as Qt styles and palettes. User-interface thread.
struct ApplicationLook {
  int id;
  QString menuText;  // empty: the look has no menu item
};

const std::vector<ApplicationLook>& ApplicationLooks();
bool IsApplicationLook(int id);
// Sets the style and palette of the whole application; an unknown id gives the default look.
void ApplyApplicationLook(int id);

#endif
