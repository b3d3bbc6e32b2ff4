// Markup that encloses LaTeX embedded in question or option text. The library
// never inserts, strips or checks it; texts travel as the host sets them.
#pragma once

// constexpr at namespace scope has internal linkage, so this stays header-only
// for hosts on older language levels too.
namespace Veltro {

constexpr char LATEX_MARKUP_OPEN[] = "<span class=\"mathquill-embedded-latex\">";
constexpr char LATEX_MARKUP_CLOSE[] = "</span>";

} // namespace Veltro
