#pragma once

// The "Toad" element of a bot in a scene file. The bot record holds only part of what the
// element carries (its name, the morph-chain head flag, the morph mode, steps and duration,
// and the first parameter row); the rest stays in the element the bot was read from, which
// the record keeps whole. The element written is that stored element with the record's
// fields written from the record, so an edit of them is saved and nothing else the file held
// is lost. A bot made in the program writes an element of the record's fields alone.

#include <string>

class QToadObj;

// The element text, from "<Toad" to "</Toad>", children one a line in the order bot files
// keep them: children before "name" in the stored element stay before it, the record's
// children follow in their order ("name", "firstMorph", "Morph", "bt"), and the stored
// children that the record does not hold keep their places around them. Never fails
// (std::bad_alloc).
std::string BotElementText(const QToadObj& bot);
