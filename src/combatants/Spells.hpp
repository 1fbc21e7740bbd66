#pragma once

#include "combatants/Attack.hpp"

namespace valdoria {

// Every special action is a kind of its own; each owner holds its own copy.
class Spell : public Attack {
protected:
  Spell(const char* name, int power, int mpCost);
};

// Spells of the heroes, shared with some monsters.
class Frost : public Spell {
public:
  Frost();
};
class Surge : public Spell {
public:
  Surge();
};
class Blaze : public Spell {
public:
  Blaze();
};
class Spark : public Spell {
public:
  Spark();
};

// Special actions of the monsters.
class Glare : public Spell {
public:
  Glare();
};
class QuillVolley : public Spell {
public:
  QuillVolley();
};
class VaultingCleave : public Spell {
public:
  VaultingCleave();
};
class Harvester : public Spell {
public:
  Harvester();
};
class StormBreath : public Spell {
public:
  StormBreath();
};
class FoulBreath : public Spell {
public:
  FoulBreath();
};
class PodBarrage : public Spell {
public:
  PodBarrage();
};

// Special actions of the boss.
class Crush : public Spell {
public:
  Crush();
};
class Oblivion : public Spell {
public:
  Oblivion();
};
class VoidPulse : public Spell {
public:
  VoidPulse();
};
class Starfall : public Spell {
public:
  Starfall();
};
class GlassStorm : public Spell {
public:
  GlassStorm();
};

} // namespace valdoria
