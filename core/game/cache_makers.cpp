#include "core/game/cache_makers.h"

#include "platform/app_control.h"
#include "platform/dialogs.h"

namespace ventari {

void EndApplication(Dialogs& dialogs, AppControl& app, const char* text) {
  dialogs.ShowMessage(text);
  app.RequestEnd();
}

}  // namespace ventari
