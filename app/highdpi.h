#pragma once

// Turns on scaling for high-DPI screens: windows keep their size in logical
// pixels and images come from their @2x files at 200 %. Qt 6 always scales;
// Qt 5 needs the attributes set before the QApplication is made.
void enableHighDpiScaling();
