// Settings texts of any bytes: reading never leaves the text, the layered argv
// maps each file argument back to a line of its file, and a text rewritten
// with changed keys reads back with exactly the new values for them (in the
// order of the changes) and every other entry as it was.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "service/settings/settings_file.h"

namespace {
using Entries = std::vector<std::pair<std::u16string, std::u16string>>;

Entries EntriesOf(const SettingsFile& file) {
  Entries entries;
  for (size_t i = 0; i < file.count; i++) entries.push_back({file.entries[i].key, file.entries[i].value});
  return entries;
}

bool Read(const std::string& text, SettingsFile* file, unsigned* lines) {
  char problem[100];
  *lines = 1;
  for (char c : text) *lines += c == '\n';
  return ReadSettingsText(text.data(), text.size(), file, problem, sizeof problem);
}

void CheckMerge(const SettingsFile& file, unsigned lines) {
  const char16_t* argv[] = {u"dial-service", u"--phone", u"snom", u"--verbose"};
  MergedOptions merged;
  char problem[300];
  if (!MergeOptionLayers(&file, u"A", &file, u"B", 4, argv, &merged, problem, sizeof problem)) {
    if (!strstr(problem, ":")) abort();
    return;
  }
  if (merged.argc < 4 || merged.argc > int(4 + 4 * file.count)) abort();
  for (int i = 0; i < merged.argc; i++)
    if (merged.origins[i].path && (merged.origins[i].line < 1 || merged.origins[i].line > lines)) abort();
  FreeMergedOptions(&merged);
}

void CheckUpdate(const std::string& text, const SettingsFile& file) {
  // Change the first entry's key (when it can be one) and phone, remove the
  // last entry's key.
  std::u16string value = file.count ? file.entries[0].value : u"x";
  const char16_t* values[] = {value.c_str(), u"second"};
  const char16_t* snom[] = {u"snom"};
  std::vector<SettingsChange> changes = {{u"phone", snom, 1}};
  if (file.count) changes.push_back({file.entries[0].key, values, 2});
  if (file.count > 1) changes.push_back({file.entries[file.count - 1].key, nullptr, 0});
  size_t length = 0;
  char* updated = UpdateSettingsText(text.data(), text.size(), changes.data(), changes.size(), &length);
  bool acceptable = true;
  for (const SettingsChange& change : changes) {
    for (const char16_t* c = change.key; *c; c++)
      if (!((*c >= u'a' && *c <= u'z') || (*c >= u'0' && *c <= u'9') || *c == u'-')) acceptable = false;
    for (size_t v = 0; change.values && v < change.valueCount; v++)
      for (const char16_t* c = change.values[v]; *c; c++)
        if (*c == u'\r' || *c == u'\n') acceptable = false;
  }
  if (!updated) {
    if (acceptable) abort();
    return;
  }
  if (!acceptable || strlen(updated) != length) abort();
  SettingsFile again;
  unsigned lines;
  if (!Read(std::string(updated, length), &again, &lines)) abort();
  Entries expected;
  for (const auto& entry : EntriesOf(file)) {
    bool changed = false;
    for (const SettingsChange& change : changes) changed |= entry.first == change.key;
    if (!changed) expected.push_back(entry);
  }
  Entries kept, set;
  for (const auto& entry : EntriesOf(again)) {
    bool changed = false;
    for (const SettingsChange& change : changes) changed |= entry.first == change.key;
    (changed ? set : kept).push_back(entry);
  }
  if (kept != expected) abort();
  Entries wanted;  // every change's values, in the order of the changes
  for (const SettingsChange& change : changes)
    for (size_t v = 0; change.values && v < change.valueCount; v++) wanted.push_back({change.key, change.values[v]});
  if (set != wanted) abort();
  FreeSettingsFile(&again);
  free(updated);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  SettingsFile file;
  unsigned lines;
  if (!Read(text, &file, &lines)) return 0;
  CheckMerge(file, lines);
  CheckUpdate(text, file);
  FreeSettingsFile(&file);
  return 0;
}
