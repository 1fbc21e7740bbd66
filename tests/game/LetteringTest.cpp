#include "game/Lettering.hpp"

#include "combatants/MonsterRoster.hpp"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace valdoria {
namespace {

template <typename Kind> std::unique_ptr<Monster> make() { return std::make_unique<Kind>(); }

TEST(Lettering, NamesakesGetDistinctNames) {
  // S Spinelet, G Grimhorn, F Finlurk; E and P the two Gloomeye kinds.
  const std::array makers{make<Spinelet>, make<Grimhorn>, make<Finlurk>, make<Gloomeye>,
                          make<PodGloomeye>};
  for (const auto& [kinds, names] : {
           std::pair{"SSS", "Spinelet A, Spinelet B, Spinelet C"},
           std::pair{"SGS", "Spinelet A, Grimhorn, Spinelet B"},
           std::pair{"SS", "Spinelet A, Spinelet B"},
           std::pair{"SGF", "Spinelet, Grimhorn, Finlurk"},
           std::pair{"EP", "Gloomeye A, Gloomeye B"},
           std::pair{"GPE", "Grimhorn, Gloomeye A, Gloomeye B"},
           std::pair{"SSSG", "Spinelet A, Spinelet B, Spinelet, Grimhorn"},
           std::pair{"SSSS", "Spinelet A, Spinelet B, Spinelet, Spinelet C"},
           std::pair{"SGSGF", "Spinelet A, Grimhorn, Spinelet B, Grimhorn A, Finlurk"},
           std::pair{"SSSSS", "Spinelet A, Spinelet B, Spinelet, Spinelet C, Spinelet D"},
       }) {
    std::vector<std::unique_ptr<Monster>> owned;
    MonsterSlots slots{};
    for (const char* kind = kinds; *kind != '\0'; ++kind) {
      owned.push_back(makers.at(std::string_view("SGFEP").find(*kind))());
      slots.at(owned.size() - 1) = owned.back().get();
    }
    letterNamesakes(slots, static_cast<int>(owned.size()));
    std::string lettered;
    for (const auto& monster : owned) {
      lettered += (lettered.empty() ? "" : ", ") + monster->getName();
    }
    EXPECT_EQ(lettered, names) << kinds;
  }
}

} // namespace
} // namespace valdoria
