#include "service/settings/desk_names.h"

namespace {
struct DeskField {
  const char* name;  // lower case
  size_t length;
};
}  // namespace

static const DeskField kUserField = {"{user}", 6};
static const DeskField kComputerField = {"{computer}", 10};

static bool StartsWithField(const char16_t* text, const DeskField& field) {
  for (size_t i = 0; i < field.length; i++) {
    char16_t c = text[i] >= u'A' && text[i] <= u'Z' ? char16_t(text[i] - u'A' + u'a') : text[i];
    if (c != char16_t(field.name[i])) return false;
  }
  return true;
}

// The field value starts with, or null.
static const DeskField* FieldAt(const char16_t* text) {
  if (*text != u'{') return nullptr;
  if (StartsWithField(text, kUserField)) return &kUserField;
  if (StartsWithField(text, kComputerField)) return &kComputerField;
  return nullptr;
}

bool HoldsDeskName(const char16_t* value) {
  for (; *value; value++)
    if (FieldAt(value)) return true;
  return false;
}

// Letters A to Z, digits and hyphens: what one label of a host name holds.
static bool FitsHostName(const char16_t* name) {
  for (; *name; name++) {
    char16_t c = *name;
    if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-'))
      return false;
  }
  return true;
}

DeskNameError FillDeskNames(const char16_t* value, const DeskNames& names, bool inHostName, char16_t* out,
                            size_t size, const char** field) {
  size_t used = 0;
  while (*value) {
    const DeskField* found = FieldAt(value);
    if (!found) {
      if (used + 1 >= size) return kDeskNamesTooLong;
      out[used++] = *value++;
      continue;
    }
    const char16_t* name = found == &kUserField ? names.user : names.computer;
    if (field) *field = found->name;
    if (!name[0]) return kDeskNameUnknown;
    if (inHostName && !FitsHostName(name)) return kDeskNameNotInHost;
    for (; *name; name++) {
      if (used + 1 >= size) return kDeskNamesTooLong;
      out[used++] = *name;
    }
    value += found->length;
  }
  if (size == 0) return kDeskNamesTooLong;
  out[used] = 0;
  return kDeskNamesFilled;
}
