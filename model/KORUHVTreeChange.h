/* What a "tree is about to change" notice names: a board slot (0 and up),
 * some slots of a tree that stays (a live insertion may rebuild any board),
 * or the whole tree, which goes. Holders of nodes drop what the change may
 * take away; a dialog on the whole system lets go only when the tree goes. */
#ifndef KORUHVTREECHANGE_H
#define KORUHVTREECHANGE_H

namespace KORUHVTreeChange {
constexpr int WholeTree = -1;
constexpr int SomeSlots = -2;
} // namespace KORUHVTreeChange

#endif
