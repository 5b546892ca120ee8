#pragma once

#include <QWidget>

// Keeps a child's distances to the chosen edges of its parent while the parent
// is resized, as anchored controls do: anchored to the right (or bottom) alone
// it moves with that edge, anchored to both sides it stretches.
namespace anchors {

// Records the child's present distances to its parent's edges and follows
// them from now on; calling it again replaces the earlier anchoring.
void Anchor(QWidget* Child, Qt::Edges Edges);

} // namespace anchors
