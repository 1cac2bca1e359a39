// statefile_saver: the change hook, the one-shot timer and the early save.
#include "services/mruservice/statefile_saver.h"

#include "services/mruservice/column_config.h"
#include "services/mruservice/mru_lists.h"
#include "services/mruservice/statefile_io.h"
#include "services/mruservice/window_config.h"
#include "shared/libcxxutil/ut_idle_notifier.h"

namespace {

class SaveTimer : public TimerListener {
 public:
  int delayMs = StateFileSaver_kDelayMs;
  bool armed = false;

  void arm() {
    if (armed) return;  // the change rides with the save already due
    IdleNotifier *notifier = getIdleNotifier();
    if (!notifier) return;
    notifier->addTimerListener(this, delayMs);
    armed = true;
  }

  void disarm() {
    if (!armed) return;
    if (IdleNotifier *notifier = getIdleNotifier()) notifier->removeTimerListener(this);
    armed = false;
  }

  void handleTimer(int) override {
    disarm();
    if (!StateFileSaver_SaveChanged()) arm();
  }
};

SaveTimer g_timer;

void onChange() { g_timer.arm(); }

}  // namespace

void StateFileSaver_Enable(int delayMs) {
  g_timer.delayMs = delayMs > 0 ? delayMs : 1;
  StateFile_SetChangeHook(onChange);
}

void StateFileSaver_Disable() {
  StateFile_SetChangeHook(nullptr);
  g_timer.disarm();
}

bool StateFileSaver_SaveChanged() {
  // Each is tried even when an earlier one failed.
  bool ok = MRU_Save();
  ok = ColumnConfig_Save() && ok;
  ok = WindowConfig_Save() && ok;
  return ok;
}

bool StateFileSaver_IsArmed() { return g_timer.armed; }
