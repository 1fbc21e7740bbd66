#include "combatants/Spells.hpp"

namespace valdoria {

Spell::Spell(const char* name, int power, int mpCost) : Attack(name, power, mpCost) {}

Frost::Frost() : Spell("Frost", 20, 15) {}
Surge::Surge() : Spell("Surge", 20, 15) {}
Blaze::Blaze() : Spell("Blaze", 20, 15) {}
Spark::Spark() : Spell("Spark", 20, 15) {}

Glare::Glare() : Spell("Glare", 12, 5) {}
QuillVolley::QuillVolley() : Spell("Quill Volley", 100, 15) {}
VaultingCleave::VaultingCleave() : Spell("Vaulting Cleave", 21, 10) {}
Harvester::Harvester() : Spell("Harvester", 17, 8) {}
StormBreath::StormBreath() : Spell("Storm Breath", 13, 5) {}
FoulBreath::FoulBreath() : Spell("Foul Breath", 22, 15) {}
PodBarrage::PodBarrage() : Spell("Pod Barrage", 30, 18) {}

Crush::Crush() : Spell("Crush", 50, 15) {}
Oblivion::Oblivion() : Spell("Oblivion", 100, 100) {}
VoidPulse::VoidPulse() : Spell("Void Pulse", 90, 90) {}
Starfall::Starfall() : Spell("Starfall", 115, 110) {}
GlassStorm::GlassStorm() : Spell("Glass Storm", 95, 95) {}

} // namespace valdoria
