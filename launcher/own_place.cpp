// The place this program stands for: its own object, built once per place, so
// that one tree links a launcher for every place against the same steps.
#include "launcher/layout.h"
#include "own_place.h"

const PlaceEntry& OwnPlace = PlaceTable[PIVRA_OWN_PLACE_ROW];
