#include "flash_timer.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "monotonic_clock.h"

namespace ab {

uint32_t FlashCounter = 0;

namespace {

std::vector<TFlashEntry*> g_entries;
size_t g_capacity = 0;  // the growth rule works on this, not on the vector's own
std::unique_ptr<TFlashTickSource> g_source;

}  // namespace

const std::vector<TFlashEntry*>& FlashEntries() { return g_entries; }
size_t FlashCapacity() { return g_capacity; }

void RegisterFlashControl(TFlashControl* control, uint32_t rate) {
  if (!control) return;
  const uint32_t mark = base::MonotonicTicks() + rate;
  auto it = std::find_if(g_entries.begin(), g_entries.end(), [&](TFlashEntry* e) { return e->Control == control; });
  if (it != g_entries.end()) {
    (*it)->Rate = rate;
    (*it)->Mark = mark;
  } else {
    if (g_entries.size() >= 32767) return;  // 16-bit signed indices
    g_entries.push_back(new TFlashEntry{control, rate, mark});
  }
  // Keep at least two free slots, so the next registrations do not reallocate.
  if (g_entries.size() + 2 > g_capacity) {
    g_capacity = g_entries.size() + 10;
    g_entries.reserve(g_capacity);
  }
}

void UnregisterFlashControl(TFlashControl* control) {
  auto it = std::find_if(g_entries.begin(), g_entries.end(), [&](TFlashEntry* e) { return e->Control == control; });
  if (it == g_entries.end()) return;
  delete *it;
  g_entries.erase(it);
}

void FlashTick() {
  ++FlashCounter;
  const size_t count = g_entries.size();
  for (size_t i = 0; i < count && i < g_entries.size(); ++i) {
    TFlashEntry* e = g_entries[i];
    if (!e->Control) continue;
    try {
      if ((e->Mark & e->Rate) != (FlashCounter & e->Rate))
        e->Control->FlashMessage(WM_FLASH, FlashCounter, (FlashCounter & e->Rate) != 0 ? -1 : 0);
      // A handler may have unregistered its control: look again before the mark.
      if (i < g_entries.size() && g_entries[i] == e) e->Mark = FlashCounter;
    } catch (...) {
      // Swallowed: the other entries are still served at this tick.
    }
  }
}

void StartFlashTimer(std::unique_ptr<TFlashTickSource> source) {
  if (g_source || !source) return;
  g_source = std::move(source);
  g_source->Start(kFlashIntervalMs, [] { FlashTick(); });
}

void StopFlashTimer() {
  if (g_source) g_source->Stop();
  g_source.reset();
  for (TFlashEntry* e : g_entries) delete e;
  g_entries.clear();
  g_capacity = 0;
}

TFlashTickSource* FlashTimerSource() { return g_source.get(); }

}  // namespace ab
