// svc_eventloop: the main loop, its exit decision and its pluggable parts.
//
// The global lists are created on first use (often during static
// construction, before main) and deliberately never freed: objects with
// static storage may still uninstall themselves while the process exits.
#include "services/state/svc_eventloop.h"

#include <algorithm>
#include <cstdint>

#include "services/state/svc_routerlink.h"
#include "services/state/svc_signals.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

std::vector<ExitCondition *> *g_global_exit_conditions = nullptr;
std::vector<LoopAction *> *g_global_loop_actions = nullptr;
SleepTime *g_global_sleep_time = nullptr;

// a - b on the wrapping millisecond clock.
int timeDiff(int a, int b) {
  return static_cast<int>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

int timeAdd(int t, int ms) {
  return static_cast<int>(static_cast<std::uint32_t>(t) + static_cast<std::uint32_t>(ms));
}

template <typename T>
bool removeFirst(std::vector<T> &list, T value) {
  auto it = std::find(list.begin(), list.end(), value);
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

}  // namespace

// ---- pluggable parts ----

ExitCondition::ExitCondition(bool installGlobally) {
  if (installGlobally) Svc_EventLoop::installGlobalExitCondition(this);
}

LoopAction::LoopAction(bool installGlobally) : installedGlobally(installGlobally) {
  if (installGlobally) Svc_EventLoop::installGlobalLoopAction(this);
}

LoopAction::~LoopAction() {
  if (installedGlobally) Svc_EventLoop::uninstallGlobalLoopAction(this);
}

SleepTime::SleepTime(bool installGlobally) : installedGlobally(installGlobally) {
  if (installGlobally) Svc_EventLoop::setGlobalSleepTime(this);
}

SleepTime::~SleepTime() {
  if (installedGlobally && Svc_EventLoop::getGlobalSleepTime() == this)
    Svc_EventLoop::setGlobalSleepTime(nullptr);
}

// ---- process-wide lists ----

void Svc_EventLoop::installGlobalExitCondition(ExitCondition *condition) {
  if (!g_global_exit_conditions) g_global_exit_conditions = new std::vector<ExitCondition *>;
  g_global_exit_conditions->push_back(condition);
}

void Svc_EventLoop::installGlobalLoopAction(LoopAction *action) {
  if (!g_global_loop_actions) g_global_loop_actions = new std::vector<LoopAction *>;
  g_global_loop_actions->push_back(action);
}

void Svc_EventLoop::uninstallGlobalLoopAction(LoopAction *action) {
  if (!g_global_loop_actions) return;
  auto &list = *g_global_loop_actions;
  list.erase(std::remove(list.begin(), list.end(), action), list.end());
}

void Svc_EventLoop::setGlobalSleepTime(SleepTime *sleepTime) { g_global_sleep_time = sleepTime; }

SleepTime *Svc_EventLoop::getGlobalSleepTime() { return g_global_sleep_time; }

// ---- one loop ----

Svc_EventLoop::Svc_EventLoop() {
  if (g_global_exit_conditions) ExitConditionList = *g_global_exit_conditions;
}

Svc_EventLoop::~Svc_EventLoop() {
  for (CleanupAction *action : CleanupActionList) action->doCleanup();
  for (CleanupActionFunc func : CleanupActionFuncList) func();
}

bool Svc_EventLoop::enterLoop() {
  bool disconnectRequested = false;
  int deadline = 0;
  for (;;) {
    Svc_RouterLink *link = Svc_RouterLink::installed();
    if (!link || !link->isAlive()) break;
    // A stop signal: leave without asking the router, so that the caller
    // saves and ends the process while it still can.
    if (Svc_StopSignal() != 0) break;
    loopAction();
    if (!shouldExit()) {
      // Withdrawn agreement: the next agreement asks again at once.
      disconnectRequested = false;
      continue;
    }
    int now = ut_getTimeMillis();
    if (disconnectRequested && timeDiff(now, deadline) <= 0) continue;
    link->requestDisconnect();
    deadline = timeAdd(now, kDisconnectRepeatMs);
    disconnectRequested = true;
  }
  return true;
}

bool Svc_EventLoop::shouldExit() {
  bool allAllow = true;
  for (ExitCondition *condition : ExitConditionList) {
    if (condition->mustExit()) return true;
    // Keep going: a later condition may still demand exit.
    if (!condition->allowExit()) allAllow = false;
  }
  if (!allAllow) return false;
  for (ExitConditionFunc func : ExitConditionFuncList)
    if (!func()) return false;
  return true;
}

bool Svc_EventLoop::loopAction() {
  // Snapshots: an action may install or uninstall actions while it runs.
  if (!LoopActionList.empty()) {
    std::vector<LoopAction *> copy = LoopActionList;
    for (LoopAction *action : copy) action->doLoopAction();
  }
  if (!LoopActionFuncList.empty()) {
    std::vector<LoopActionFunc> copy = LoopActionFuncList;
    for (LoopActionFunc func : copy) func();
  }
  if (g_global_loop_actions && !g_global_loop_actions->empty()) {
    std::vector<LoopAction *> copy = *g_global_loop_actions;
    for (LoopAction *action : copy) action->doLoopAction();
  }
  if (IdleNotifier *notifier = getIdleNotifier()) {
    notifier->notifyIdle(false);
    notifier->notifyTimers();
    notifier->notifySocketActivity(calculateSleepTime(), true);
  }
  return true;
}

int Svc_EventLoop::calculateSleepTime() {
  if (localSleepTime) return localSleepTime->getSleepTime();
  if (localSleepTimeFunc) return localSleepTimeFunc();
  if (g_global_sleep_time) return g_global_sleep_time->getSleepTime();
  return kDefaultSleepMs;
}

// ---- installation ----

bool Svc_EventLoop::installExitCondition(ExitCondition *condition) {
  ExitConditionList.push_back(condition);
  return true;
}

bool Svc_EventLoop::installExitConditionFunc(ExitConditionFunc func) {
  ExitConditionFuncList.push_back(func);
  return true;
}

bool Svc_EventLoop::installCleanupAction(CleanupAction *action) {
  CleanupActionList.push_back(action);
  return true;
}

bool Svc_EventLoop::installCleanupActionFunc(CleanupActionFunc func) {
  CleanupActionFuncList.push_back(func);
  return true;
}

bool Svc_EventLoop::installLoopAction(LoopAction *action) {
  LoopActionList.push_back(action);
  return true;
}

bool Svc_EventLoop::installLoopActionFunc(LoopActionFunc func) {
  LoopActionFuncList.push_back(func);
  return true;
}

bool Svc_EventLoop::uninstallExitCondition(ExitCondition *condition) {
  return removeFirst(ExitConditionList, condition);
}

bool Svc_EventLoop::uninstallExitConditionFunc(ExitConditionFunc func) {
  return removeFirst(ExitConditionFuncList, func);
}

bool Svc_EventLoop::uninstallLoopAction(LoopAction *action) {
  return removeFirst(LoopActionList, action);
}

bool Svc_EventLoop::uninstallLoopActionFunc(LoopActionFunc func) {
  return removeFirst(LoopActionFuncList, func);
}

bool Svc_EventLoop::setLocalSleepTime(SleepTime *sleepTime) {
  localSleepTime = sleepTime;
  return true;
}

bool Svc_EventLoop::setLocalSleepTimeFunc(SleepTimeFunc func) {
  localSleepTimeFunc = func;
  return true;
}
