// Runs the three file imports of one call in order and settles the staged
// performances: attached to the day's new competition, or all deleted.
#pragma once

namespace ondival {

// True when this import's performances went to a new competition, or when
// liffn.txt held no line; false when they were purged.
bool import_fichiers();

// Deletes every staged performance (Num_compet = -1). Used by the driver's
// purge and by the entry point before an error reaches the host.
void efface_performances_en_attente();

}  // namespace ondival
