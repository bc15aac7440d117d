// How windows behave: focus moves between them with a blur of the old and a
// focus of the new window, frame changes report move and resize, closing
// reports the close.
#pragma once

#include <cstdint>

#include "events.h"
#include "state.h"

namespace standin {

Window* findWindow(Model& m, uint32_t id);
// The window takes the focus; the window that had it is blurred first.
void giveFocus(Model& m, uint32_t id, Deliveries& out);
// The window loses the focus, when it has it.
void dropFocus(Model& m, uint32_t id, Deliveries& out);
// Moves the window; a new position reports move, a new size reports resize.
void changeFrame(Window& w, const Rect& frame, Deliveries& out);
Rect centredIn(const Rect& frame, const Rect& area);
Rect primaryWorkArea(const Model& m);
// The display that holds the window's centre.
const json& displayOfWindow(const Model& m, const Window& w);
// Removes the window and its web views and reports the close.
void closeWindowNow(Model& m, uint32_t id, Deliveries& out);

void addShouldClose(const Window& w, Deliveries& out);
void addKey(const Window& w, uint32_t a, uint32_t b, uint32_t c, uint32_t d, Deliveries& out);

}  // namespace standin
