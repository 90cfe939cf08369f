#pragma once
class QWidget;

// Keeps the children of a container that carry an "align" property ("top",
// "bottom", "client") glued to that edge as the container is resized: top
// ones stack down from the top, bottom ones up from the bottom, each keeping
// its height, and a client one fills what is left; a "width" one keeps its
// place and height while its right edge stays "alignMargin" pixels from the
// container's. Other children keep their place. A child too tall for a small container is cut off, never
// squeezed.
void KeepAligned(QWidget *container);
