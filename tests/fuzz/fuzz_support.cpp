#include "fuzz_support.h"

#include <mimalloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace {
// mimalloc only reports what it detects and carries on; a fuzz run must stop.
void AllocatorError(int error, void*) {
  fprintf(stderr, "string allocator reported error %d\n", error);
  abort();
}
}  // namespace

void StartFuzzedCore() {
  static bool started = false;
  if (started) return;
  started = true;
  mi_register_error(AllocatorError, nullptr);
  // Under AddressSanitizer the OS rarely hands out aligned memory at once;
  // mimalloc's warning about falling back says nothing about the code under test.
  mi_option_set(mi_option_max_warnings, 0);
  InitStrings();
}

void FuzzCheckFailed(const char* condition, const char* file, int line) {
  fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  abort();
}

std::u16string UnitsFromBytes(const uint8_t* data, size_t size) {
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); i++)
    units[i] = char16_t(data[2 * i] | (data[2 * i + 1] << 8));
  return units;
}

std::u16string UpToTerminator(const std::u16string& text) {
  return text.substr(0, std::min(text.size(), text.find(u'\0')));
}

Holding HoldingFromByte(uint8_t byte) { return Holding(byte % 5); }

static void WriteText(String s, const std::u16string& text) {
  memcpy(s, text.data(), 2 * text.size());
  s[text.size()] = 0;
}

HeldString Hold(const std::u16string& text, Holding holding) {
  HeldString held = {nullptr, holding, nullptr};
  int32_t length = int32_t(text.size());
  switch (holding) {
    case Holding::kNull:
      break;
    case Holding::kSharedEmpty:
      held.value = SharedEmptyString();
      break;
    case Holding::kTemporary:
      held.value = AllocateTempString(length);
      WriteText(held.value, text);
      break;
    case Holding::kPermanent:
      held.value = AllocateString(length);
      WriteText(held.value, text);
      break;
    case Holding::kLiteral: {
      // malloc'd storage is at least 8-aligned, so the header at offset 2
      // sits off a 4-byte boundary, as a literal's may.
      uint8_t* storage = static_cast<uint8_t*>(malloc(2 + 4 + 2 * text.size() + 2));
      uint32_t header = uint32_t(length);
      memcpy(storage + 2, &header, 4);
      held.value = reinterpret_cast<String>(storage + 6);
      WriteText(held.value, text);
      held.literalStorage = storage;
      break;
    }
  }
  return held;
}

void Dispose(HeldString* held) {
  switch (held->holding) {
    case Holding::kTemporary:
      FreeTempString(held->value);
      break;
    case Holding::kPermanent:
      FreeString(held->value);
      break;
    case Holding::kLiteral:
      free(held->literalStorage);
      break;
    default:
      break;
  }
  *held = HeldString{nullptr, Holding::kNull, nullptr};
}

std::u16string TextOf(String s) {
  if (!s) return std::u16string();
  return std::u16string(s, size_t(StringLength(s)));
}

bool HoldsText(String s, const std::u16string& text) {
  if (!s) return text.empty();
  return size_t(StringLength(s)) == text.size() && memcmp(s, text.data(), 2 * text.size()) == 0 &&
         s[text.size()] == 0;
}
