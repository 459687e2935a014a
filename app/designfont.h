#pragma once

// The window's fonts and style sheets name "微软雅黑", a Windows system
// family. Where the system lacks it, every font the window asks for under
// that name sends the font matching through its fallbacks again. This resolves
// the name once and registers the family it resolves to as its substitute, so
// later requests find a family at once and draw the same glyphs as before
// (letters the substitute lacks, Chinese ones, come from the same fallbacks).
// Does nothing where the family is installed. Call it after the application
// object exists and before the first widget.
void registerDesignFontSubstitutes();
