#include "base/Console.hpp"

#include "GameTest.hpp"
#include "combatants/MonsterRoster.hpp"
#include "combatants/Varen.hpp"
#include "game/MainLoop.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <istream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

namespace valdoria {
namespace {

enum class Read { Word, CommandWord, Line };

bool read(Read kind, std::string& entry) {
  switch (kind) {
  case Read::Word:
    return readWord(entry);
  case Read::CommandWord:
    return readCommandWord(entry);
  case Read::Line:
    return readLine(entry);
  }
  return false;
}

// Letters, or letters and blanks, in a cycle, so that a kept prefix shows
// where it was cut.
std::string letters(std::size_t length) {
  std::string text;
  for (std::size_t index = 0; index < length; ++index) {
    text.push_back(static_cast<char>('a' + index % 26));
  }
  return text;
}

std::string words(std::size_t length) {
  std::string text = letters(length);
  for (std::size_t index = 5; index < length; index += 7) {
    text[index] = ' ';
  }
  return text;
}

// An entry over the bound comes back as its first characters and a line end.
std::string overLong(const std::string& typed) { return typed.substr(0, kMaxEntryLength) + "\n"; }

using ConsoleTest = testing::GameTest;

TEST_F(ConsoleTest, EntriesKeepAtMostTheBoundAndTheRestIsDropped) {
  constexpr std::size_t bound = kMaxEntryLength;
  struct Case {
    const char* about;
    Read kind;
    std::string input;
    std::vector<std::string> entries; // then the input has ended
  };
  const std::vector<Case> cases{
      {"a word at the bound is whole",
       Read::Word,
       letters(bound) + " next\n",
       {letters(bound), "next"}},
      {"one more letter and it is cut",
       Read::Word,
       "\n \t" + letters(bound + 1) + "\tnext",
       {overLong(letters(bound)), "next"}},
      {"the dropped tail is no word of its own",
       Read::Word,
       letters(bound) + "yes\n\nyes",
       {overLong(letters(bound)), "yes"}},
      {"a last word without a line end",
       Read::Word,
       "  " + letters(3 * bound),
       {overLong(letters(bound))}},
      {"a command drops its line",
       Read::CommandWord,
       letters(bound + 1) + " Defend\nStatus x\n",
       {overLong(letters(bound)), "Status"}},
      {"a line at the bound is whole",
       Read::Line,
       words(bound) + "\n" + words(bound - 1),
       {words(bound), words(bound - 1)}},
      {"one more character and it is cut",
       Read::Line,
       words(bound + 1) + "\n\nBACK\n",
       {overLong(words(bound + 1)), "", "BACK"}},
      {"the dropped tail is no line of its own",
       Read::Line,
       std::string(bound, ' ') + "BACK\nBACK\n",
       {overLong(std::string(bound, ' ')), "BACK"}},
      {"a last line without a line end",
       Read::Line,
       "\n" + words(3 * bound),
       {"", overLong(words(bound))}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.about);
    typeInput(test.input);
    std::string entry;
    for (const std::string& expected : test.entries) {
      ASSERT_TRUE(read(test.kind, entry));
      EXPECT_EQ(entry.size(), expected.size());
      EXPECT_TRUE(entry == expected);
      EXPECT_FALSE(hasInputEnded());
    }
    EXPECT_FALSE(read(test.kind, entry));
    EXPECT_TRUE(hasInputEnded());
  }
}

// Hands out one letter again and again, then a last word, holding no more
// than a small piece of it at a time: typing without end, as far as memory
// is concerned.
class EndlessTyping : public std::streambuf {
public:
  EndlessTyping(std::size_t count, std::string last) : remaining(count), lastWord(std::move(last)) {
    piece.fill('y');
  }

  bool everythingRead() const { return remaining == 0 && lastGiven && gptr() == egptr(); }

protected:
  int_type underflow() override {
    if (remaining > 0) {
      const std::size_t length = std::min(remaining, piece.size());
      remaining -= length;
      setg(piece.data(), piece.data(), piece.data() + length);
      return traits_type::to_int_type(piece.front());
    }
    if (lastGiven || lastWord.empty()) {
      lastGiven = true;
      return traits_type::eof();
    }
    lastGiven = true;
    setg(lastWord.data(), lastWord.data(), lastWord.data() + lastWord.size());
    return traits_type::to_int_type(lastWord.front());
  }

private:
  std::array<char, 4096> piece{};
  std::size_t remaining;
  std::string lastWord;
  bool lastGiven = false;
};

TEST_F(ConsoleTest, MemoryStaysFlatWhateverIsTyped) {
  constexpr std::size_t typed = std::size_t{16} << 20;
  const std::string cut = overLong(std::string(kMaxEntryLength, 'y'));
  for (const auto& [kind, entries] : {
           std::pair{Read::Word, std::vector<std::string>{cut, "yes", "no"}},
           std::pair{Read::CommandWord, std::vector<std::string>{cut, "no"}},
           std::pair{Read::Line, std::vector<std::string>{cut, "no"}},
       }) {
    SCOPED_TRACE(static_cast<int>(kind));
    EndlessTyping endless(typed, " yes\nno");
    std::istream input(&endless);
    setConsole(input, out);
    std::string entry;
    for (const std::string& expected : entries) {
      ASSERT_TRUE(read(kind, entry));
      EXPECT_TRUE(entry == expected);
      EXPECT_LE(entry.capacity(), 2 * kMaxEntryLength);
    }
    EXPECT_FALSE(read(kind, entry));
    EXPECT_TRUE(endless.everythingRead());
  }
}

// An over-long entry at each prompt: whatever it begins or ends with, it is
// answered as any unknown entry, once, and the next entry is read afresh.
class OverLongEntryTest : public ConsoleTest {
protected:
  Varen varen;
  Spinelet spinelet;
  Grimhorn grimhorn;
  MonsterSlots monsters{&spinelet, &grimhorn, nullptr, nullptr, nullptr};
};

TEST_F(OverLongEntryTest, MatchesNothingAtAnyPrompt) {
  const std::string padding(kMaxEntryLength, ' ');
  const std::string tail = letters(10000);
  struct Case {
    const char* prompt;
    std::string input;
    std::function<void()> play;
    std::string outputEnd;
  };
  const std::vector<Case> cases{
      {"yes/no", "yes" + tail + "\nyes\n", [] { runMainLoop(); },
       "Fight a battle (yes/no)? \nYou fought 0 battles. Exiting program...\n"},
      {"yes/no, the cut inside", letters(kMaxEntryLength) + "yes\nyes\n", [] { runMainLoop(); },
       "Fight a battle (yes/no)? \nYou fought 0 battles. Exiting program...\n"},
      {"main menu", "Defend" + tail + " Status\nDefend\n",
       [this] {
         varen.mainMenu(monsters, 2);
         EXPECT_TRUE(varen.isDefending());
       },
       "Status\n\nMain menu: Main menu: Varen defends!\n"},
      {"magic select", "BACK" + tail + "\nFrost" + tail + "\nBACK\n",
       [this] { EXPECT_FALSE(varen.magicSelectMenu(monsters, 2)); },
       "previous menu.\n\nMagic select menu: Invalid spell name. "
       "Magic select menu: Invalid spell name. Magic select menu: "},
      {"monster select",
       "Grimhorn" + padding + "\n" + padding + "Grimhorn\nBACK" + padding + "\nBACK\n",
       [this] { EXPECT_FALSE(varen.monsterSelectMenu(monsters, 2, varen.getBasicAttack())); },
       "previous menu.\n\nMonster select menu: Invalid monster name.\n"
       "Monster select menu: Invalid monster name.\nMonster select menu: Invalid monster name.\n"
       "Monster select menu: "},
      {"status", "BACK" + padding + "\n" + padding + "BACK\nBACK\n", [this] { varen.statusMenu(); },
       "previous menu.\n\nStatus menu: Status menu: Status menu: "},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.prompt);
    clearOutput();
    typeInput(test.input);
    test.play();
    EXPECT_TRUE(output().ends_with(test.outputEnd)) << output();
    EXPECT_FALSE(hasInputEnded());
    EXPECT_EQ(grimhorn.getHp(), 450);
    EXPECT_FALSE(fileExists("Varen.txt"));
  }
}

} // namespace
} // namespace valdoria
