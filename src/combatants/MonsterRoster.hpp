#pragma once

// A monster owns its move set, which lives with the combat rules.
#include "combat/MoveSet.hpp"
#include "combatants/Monster.hpp"
#include "combatants/Spells.hpp"

namespace valdoria {

// The ordinary monsters, met one to five at a time. Each owns its special
// actions and a move set over its basic attack and those specials.

class AzureWisp final : public Monster {
public:
  AzureWisp();
  void act(Combatant& target) override;

private:
  Surge surge;
  MoveSet2 moveSet;
};

class Gloomeye final : public Monster {
public:
  Gloomeye();
  void act(Combatant& target) override;

private:
  Glare glare;
  MoveSet2 moveSet;
};

class Spinelet final : public Monster {
public:
  Spinelet();
  void act(Combatant& target) override;

private:
  QuillVolley quillVolley;
  MoveSet2 moveSet;
};

class Whiskrel final : public Monster {
public:
  Whiskrel();
  void act(Combatant& target) override;

private:
  Frost frost;
  Blaze blaze;
  Spark spark;
  MoveSet4 moveSet;
};

class SteelHulk final : public Monster {
public:
  SteelHulk();
  void act(Combatant& target) override;

private:
  VaultingCleave vaultingCleave;
  Harvester harvester;
  MoveSet3 moveSet;
};

class Grimhorn final : public Monster {
public:
  Grimhorn();
  void act(Combatant& target) override;

private:
  StormBreath stormBreath;
  MoveSet2 moveSet;
};

class Rotvine final : public Monster {
public:
  Rotvine();
  void act(Combatant& target) override;

private:
  FoulBreath foulBreath;
  MoveSet2 moveSet;
};

class PodGloomeye final : public Monster {
public:
  PodGloomeye();
  void act(Combatant& target) override;

private:
  PodBarrage podBarrage;
  MoveSet2 moveSet;
};

class Finlurk final : public Monster {
public:
  Finlurk();
  void act(Combatant& target) override;

private:
  MoveSet1 moveSet;
};

class PaleWisp final : public Monster {
public:
  PaleWisp();
  void act(Combatant& target) override;

private:
  Frost frost;
  MoveSet2 moveSet;
};

class AmberWisp final : public Monster {
public:
  AmberWisp();
  void act(Combatant& target) override;

private:
  Spark spark;
  MoveSet2 moveSet;
};

} // namespace valdoria
