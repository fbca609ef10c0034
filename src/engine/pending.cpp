// Placeholders until the engine's workers land; each refuses instead of pretending.
#include "engine/engine.h"

namespace tarnwick {


}  // namespace tarnwick
