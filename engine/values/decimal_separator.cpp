#include "engine/values/decimal_separator.h"

#include <atomic>

#include "platform/process.h"

namespace strata {
namespace {

// 0 means no override.
std::atomic<char> g_override{0};

}  // namespace

char SystemDecimalSeparator() {
  const char separator = g_override.load(std::memory_order_relaxed);
  return separator != 0 ? separator : platform::DecimalSeparator();
}

ScopedDecimalSeparator::ScopedDecimalSeparator(char separator)
    : previous_(g_override.exchange(separator, std::memory_order_relaxed)) {}

ScopedDecimalSeparator::~ScopedDecimalSeparator() {
  g_override.store(previous_, std::memory_order_relaxed);
}

}  // namespace strata
