// Markup that encloses LaTeX embedded in question or option text. The library
// never inserts, strips or checks it; texts travel as the host sets them.
#pragma once

namespace Veltro {

inline constexpr char LATEX_MARKUP_OPEN[] = "<span class=\"mathquill-embedded-latex\">";
inline constexpr char LATEX_MARKUP_CLOSE[] = "</span>";

} // namespace Veltro
