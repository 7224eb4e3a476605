// The managed-string operations driven by a random program over a few
// variables and a pool of live temporaries, checked after every step against a
// std::u16string model: texts, which reference each operation hands back
// (adopted, copied, borrowed or new), which operands it releases, and the
// number of live string allocations.
#include <string.h>

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <vector>

#include "allocation_counter.h"
#include "fuzz_support.h"

namespace {
const int kVariables = 4;
const size_t kPoolLimit = 6;
const int kStepLimit = 256;
// Concatenation can double a text every other step; past this a program only
// spends its time copying and comparing. Huge strings have their own unit test.
const size_t kLongestText = 1 << 16;

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at;
  bool Done() const { return at >= size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  char16_t Unit() {
    // Mostly a small alphabet, so that comparisons meet equal texts; now and
    // then any unit, 0 and surrogates included.
    uint8_t b = Byte();
    if (b < 0xF0) return char16_t(u'a' + b % 3);
    return char16_t(Byte() | (Byte() << 8));
  }
  std::u16string Text(size_t maxLength) {
    size_t length = Byte() % (maxLength + 1);
    std::u16string text;
    for (size_t i = 0; i < length; i++) text += Unit();
    return text;
  }
};

// A value as the model sees it.
struct Model {
  enum Kind { kNull, kSharedEmpty, kOwned } kind;
  std::u16string text;
};

struct Temporary {
  String value;
  std::u16string text;
};

// Where an operand comes from and what it holds.
struct Operand {
  enum Source { kPool, kVariable, kLiteral, kNull, kSharedEmpty } source;
  String value;
  std::u16string text;
  size_t poolIndex;
};

class Program {
 public:
  explicit Program(Reader reader) : in_(reader), startLive_(StringAllocations().Live()) {
    for (int i = 0; i < kVariables; i++) {
      variables_[i] = nullptr;
      models_[i] = Model{Model::kNull, std::u16string()};
    }
  }

  void Run() {
    for (int step = 0; step < kStepLimit && !in_.Done(); step++) {
      switch (in_.Byte() % 10) {
        case 0: MakeTemporary(); break;
        case 1: Assign(); break;
        case 2: Concat(); break;
        case 3: Append(); break;
        case 4: Equal(); break;
        case 5: Duplicate(); break;
        case 6: FreeTemporary(); break;
        case 7: FreeVariable(); break;
        case 8: CopyParameter(); break;
        case 9: Resize(); break;
      }
      CheckState();
    }
    for (Temporary& t : pool_) FreeTempString(t.value);
    pool_.clear();
    for (int i = 0; i < kVariables; i++) FreeString(variables_[i]);
    FUZZ_CHECK(StringAllocations().Live() == startLive_);
  }

 private:
  static bool IsEmptyValue(String s) { return !s || s == SharedEmptyString(); }

  void Push(String value, const std::u16string& text) {
    if (!value) return;
    if (pool_.size() == kPoolLimit) {
      FreeTempString(pool_.front().value);
      pool_.pop_front();
    }
    pool_.push_back(Temporary{value, text});
  }

  void MakeTemporary() {
    std::u16string text = in_.Text(in_.Byte() & 1 ? 300 : 12);
    String s = AllocateTempString(int32_t(text.size()));
    memcpy(s, text.c_str(), 2 * (text.size() + 1));
    Push(s, text);
  }

  Operand Pick(int excludeVariable = -1) {
    static const char16_t* const kLiteralTexts[] = {u"", u"ping", u"dial ", u"a"};
    static String literals[] = {LITERAL(u""), LITERAL(u"ping"), LITERAL(u"dial "), LITERAL(u"a")};
    // Headers off a 4-byte boundary, as static data may place them.
    static HeldString oddLiterals[] = {Hold(u"b", Holding::kLiteral), Hold(std::u16string(u"ab\0c", 4), Holding::kLiteral),
                                       Hold(u"", Holding::kLiteral)};
    uint8_t selector = in_.Byte();
    Operand o{Operand::Source(selector % 5), nullptr, std::u16string(), 0};
    switch (o.source) {
      case Operand::kPool:
        if (pool_.empty()) {
          o.source = Operand::kNull;
          break;
        }
        o.poolIndex = in_.Byte() % pool_.size();
        o.value = pool_[o.poolIndex].value;
        o.text = pool_[o.poolIndex].text;
        break;
      case Operand::kVariable: {
        int j = in_.Byte() % kVariables;
        if (j == excludeVariable) {
          o.source = Operand::kNull;
          break;
        }
        o.value = variables_[j];
        o.text = models_[j].text;
        break;
      }
      case Operand::kLiteral: {
        uint8_t which = in_.Byte() % 7;
        if (which < 4) {
          o.value = literals[which];
          o.text = kLiteralTexts[which];
        } else {
          o.value = oddLiterals[which - 4].value;
          o.text = TextOf(o.value);
        }
        break;
      }
      case Operand::kSharedEmpty:
        o.value = SharedEmptyString();
        break;
      case Operand::kNull:
        break;
    }
    return o;
  }

  // Two operands that are never the same temporary, which only one owner may pass.
  void PickTwo(Operand* a, Operand* b) {
    *a = Pick();
    *b = Pick();
    if (a->source == Operand::kPool && b->source == Operand::kPool && a->poolIndex == b->poolIndex)
      *b = Operand{Operand::kNull, nullptr, std::u16string(), 0};
  }

  // Forget the pool entries that an operation consumed or adopted.
  void Consumed(std::initializer_list<const Operand*> operands) {
    std::vector<String> gone;
    for (const Operand* o : operands)
      if (o->source == Operand::kPool) gone.push_back(o->value);
    for (String s : gone)
      for (size_t i = 0; i < pool_.size(); i++)
        if (pool_[i].value == s) {
          pool_.erase(pool_.begin() + long(i));
          break;
        }
  }

  void Assign() {
    int i = in_.Byte() % kVariables;
    Operand s = Pick();
    String before = variables_[i];
    AssignString(&variables_[i], s.value);
    Model& m = models_[i];
    if (before == s.value && s.value) {
      FUZZ_CHECK(variables_[i] == before);
      return;
    }
    if (IsEmptyValue(s.value)) {
      FUZZ_CHECK(variables_[i] == SharedEmptyString());
      m = Model{Model::kSharedEmpty, std::u16string()};
    } else if (s.source == Operand::kPool) {
      FUZZ_CHECK(variables_[i] == s.value);  // adopted, not copied
      m = Model{Model::kOwned, s.text};
      Consumed({&s});
    } else {
      FUZZ_CHECK(variables_[i] != s.value);
      m = Model{Model::kOwned, s.text};
    }
  }

  void Concat() {
    Operand left, right;
    PickTwo(&left, &right);
    if (left.text.size() + right.text.size() > kLongestText)
      right = Operand{Operand::kNull, nullptr, std::u16string(), 0};
    String result = ConcatStrings(left.value, right.value);
    Consumed({&left, &right});
    std::u16string expected = left.text + right.text;
    if (expected.empty()) {
      FUZZ_CHECK(result == nullptr);
      return;
    }
    FUZZ_CHECK(result != nullptr && IsTemporary(result));
    FUZZ_CHECK(result != left.value && result != right.value);
    FUZZ_CHECK(HoldsText(result, expected));
    Push(result, expected);
  }

  void Append() {
    // The accumulator is null, the shared empty string or a temporary.
    Operand accumulator = Pick();
    if (accumulator.source == Operand::kVariable || accumulator.source == Operand::kLiteral)
      accumulator = Operand{Operand::kSharedEmpty, SharedEmptyString(), std::u16string(), 0};
    Operand operand = Pick();
    if ((operand.source == Operand::kPool && accumulator.source == Operand::kPool &&
         operand.poolIndex == accumulator.poolIndex) ||
        accumulator.text.size() + operand.text.size() > kLongestText)
      operand = Operand{Operand::kNull, nullptr, std::u16string(), 0};

    String result = AppendString(accumulator.value, operand.value);
    if (IsEmptyValue(operand.value)) {
      FUZZ_CHECK(result == accumulator.value);
      return;
    }
    Consumed({&accumulator, &operand});
    if (IsEmptyValue(accumulator.value)) {
      if (operand.source == Operand::kPool) FUZZ_CHECK(result == operand.value);
      else FUZZ_CHECK(result != operand.value);
    }
    FUZZ_CHECK(IsTemporary(result));
    std::u16string expected = accumulator.text + operand.text;
    FUZZ_CHECK(HoldsText(result, expected));
    Push(result, expected);
  }

  void Equal() {
    Operand a, b;
    PickTwo(&a, &b);
    int32_t expected;
    if (!a.value && !b.value) expected = 1;
    else if (!a.value || !b.value) expected = (a.value ? a.text : b.text).empty();
    else expected = UpToTerminator(a.text) == UpToTerminator(b.text);
    FUZZ_CHECK(StringsEqual(a.value, b.value) == expected);
    Consumed({&a, &b});
  }

  void Duplicate() {
    Operand s = Pick();
    String result = DuplicateTemporary(s.value);
    if (!IsTemporary(s.value)) {
      FUZZ_CHECK(result == s.value);
    } else if (s.text.empty()) {
      FUZZ_CHECK(result == nullptr);
    } else {
      FUZZ_CHECK(result != s.value && IsTemporary(result));
      FUZZ_CHECK(HoldsText(result, s.text));
      Push(result, s.text);
    }
  }

  void FreeTemporary() {
    Operand s = Pick();
    FreeTempString(s.value);  // leaves anything but a temporary alone
    Consumed({&s});
  }

  // A procedure's end: FreeString on its local, whose slot the next entry zeroes.
  void FreeVariable() {
    int i = in_.Byte() % kVariables;
    FreeString(variables_[i]);
    variables_[i] = nullptr;
    models_[i] = Model{Model::kNull, std::u16string()};
  }

  // A procedure entered with a caller's value in its parameter slot.
  void CopyParameter() {
    int i = in_.Byte() % kVariables;
    Operand s = Pick(i);
    FreeString(variables_[i]);
    variables_[i] = s.value;
    CopyStringParameter(&variables_[i]);
    if (IsEmptyValue(s.value)) {
      FUZZ_CHECK(variables_[i] == SharedEmptyString());
      models_[i] = Model{Model::kSharedEmpty, std::u16string()};
      return;
    }
    if (s.source == Operand::kPool) {
      FUZZ_CHECK(variables_[i] == s.value);
      Consumed({&s});
    } else {
      FUZZ_CHECK(variables_[i] != s.value);
    }
    models_[i] = Model{Model::kOwned, s.text};
  }

  // A temporary resized and refilled, as the parameter reader shrinks its copy.
  void Resize() {
    if (pool_.empty()) return;
    Temporary& t = pool_[in_.Byte() % pool_.size()];
    size_t length = in_.Byte() % 40;
    if (in_.Byte() & 1) length *= 7;
    long reallocations = StringAllocations().reallocations;
    String resized = ResizeString(t.value, int32_t(length));
    if (length == t.text.size()) {
      FUZZ_CHECK(resized == t.value);
      FUZZ_CHECK(StringAllocations().reallocations == reallocations);
    }
    FUZZ_CHECK(IsTemporary(resized) && size_t(StringLength(resized)) == length);
    size_t kept = std::min(length, t.text.size());
    FUZZ_CHECK(std::u16string(resized, kept) == t.text.substr(0, kept));
    std::u16string text = t.text.substr(0, kept);
    while (text.size() < length) text += in_.Unit();
    memcpy(resized, text.c_str(), 2 * (length + 1));
    t = Temporary{resized, text};
  }

  void CheckState() const {
    long owned = 0;
    for (int i = 0; i < kVariables; i++) {
      String v = variables_[i];
      const Model& m = models_[i];
      FUZZ_CHECK(!IsTemporary(v));
      switch (m.kind) {
        case Model::kNull:
          FUZZ_CHECK(v == nullptr);
          break;
        case Model::kSharedEmpty:
          FUZZ_CHECK(v == SharedEmptyString());
          break;
        case Model::kOwned:
          FUZZ_CHECK(v != nullptr && v != SharedEmptyString());
          FUZZ_CHECK(HoldsText(v, m.text));
          owned++;
          break;
      }
    }
    for (const Temporary& t : pool_) {
      FUZZ_CHECK(IsTemporary(t.value));
      FUZZ_CHECK(HoldsText(t.value, t.text));
    }
    FUZZ_CHECK(StringAllocations().Live() - startLive_ == owned + long(pool_.size()));
    FUZZ_CHECK(SharedEmptyString()[0] == 0 && StringLength(SharedEmptyString()) == 0);
  }

  Reader in_;
  long startLive_;
  String variables_[kVariables];
  Model models_[kVariables];
  std::deque<Temporary> pool_;
};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartFuzzedCore();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Program(Reader{data, size, 0}).Run();
  return 0;
}
