// Text handling of the OAuth registration hand-off. Free of I/O so tests and
// fuzzers can call it directly.
#pragma once

#include <QString>

namespace Veltro {

/// Returns the exact JSON text of the value of member `key` of the top-level
/// object in `json` (from its first to its last character), or a null string
/// when `json` is not an object text or has no such member. Members that follow
/// it and nested members of the same name do not matter.
QString topLevelMemberText(const QString &json, const QString &key);

/// Adds the member "sourceSystem":"Nimbra" to the JSON object text `object`,
/// before its closing brace (right after its last member). A text that is not
/// enclosed in braces gets the member text after its last double quote, or at
/// its start when it has none.
QString addSourceSystemMember(const QString &object);

} // namespace Veltro
