#include "combatants/MonsterRoster.hpp"

namespace valdoria {

AzureWisp::AzureWisp() : moveSet(getBasicAttack(), surge) {
  describe("Azure Wisp", 300, 100, 36, 45, 38, moveSet);
}

void AzureWisp::act(Combatant& target) { moveSet.takeTurn(*this, target); }

Gloomeye::Gloomeye() : moveSet(getBasicAttack(), glare) {
  describe("Gloomeye", 300, 30, 33, 22, 25, moveSet);
}

void Gloomeye::act(Combatant& target) { moveSet.takeTurn(*this, target); }

Spinelet::Spinelet() : moveSet(getBasicAttack(), quillVolley) {
  describe("Spinelet", 100, 30, 20, 24, 31, moveSet);
}

void Spinelet::act(Combatant& target) { moveSet.takeTurn(*this, target); }

Whiskrel::Whiskrel() : moveSet(getBasicAttack(), frost, blaze, spark) {
  describe("Whiskrel", 400, 100, 41, 20, 43, moveSet);
}

void Whiskrel::act(Combatant& target) { moveSet.takeTurn(*this, target); }

SteelHulk::SteelHulk() : moveSet(getBasicAttack(), vaultingCleave, harvester) {
  describe("Steel Hulk", 800, 50, 45, 10, 50, moveSet);
}

void SteelHulk::act(Combatant& target) { moveSet.takeTurn(*this, target); }

Grimhorn::Grimhorn() : moveSet(getBasicAttack(), stormBreath) {
  describe("Grimhorn", 450, 30, 35, 15, 36, moveSet);
}

void Grimhorn::act(Combatant& target) { moveSet.takeTurn(*this, target); }

Rotvine::Rotvine() : moveSet(getBasicAttack(), foulBreath) {
  describe("Rotvine", 900, 70, 30, 5, 61, moveSet);
}

void Rotvine::act(Combatant& target) { moveSet.takeTurn(*this, target); }

PodGloomeye::PodGloomeye() : moveSet(getBasicAttack(), podBarrage) {
  describe("Gloomeye", 633, 54, 31, 15, 35, moveSet);
}

void PodGloomeye::act(Combatant& target) { moveSet.takeTurn(*this, target); }

Finlurk::Finlurk() : moveSet(getBasicAttack()) {
  describe("Finlurk", 350, 45, 29, 13, 27, moveSet);
}

void Finlurk::act(Combatant& target) { moveSet.takeTurn(*this, target); }

PaleWisp::PaleWisp() : moveSet(getBasicAttack(), frost) {
  describe("Pale Wisp", 300, 100, 36, 45, 38, moveSet);
}

void PaleWisp::act(Combatant& target) { moveSet.takeTurn(*this, target); }

AmberWisp::AmberWisp() : moveSet(getBasicAttack(), spark) {
  describe("Amber Wisp", 300, 100, 36, 45, 38, moveSet);
}

void AmberWisp::act(Combatant& target) { moveSet.takeTurn(*this, target); }

} // namespace valdoria
