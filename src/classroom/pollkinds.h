// The kinds of poll the presenter programs offer, with their option counts
// and button texts: one table shared by every host.
#pragma once

#include "ordinaltype.h"
#include "polltype.h"
#include "veltroclient_export.h"

#include <QString>
#include <QStringList>

namespace Veltro {

/// One kind of poll a host offers: what it starts on the live connection and
/// how many options it may have. For a number poll the "options" are decimals;
/// kinds with a maximum of 0 have none.
struct VELTROCLIENT_EXPORT PollKind
{
    const char *name;                              ///< "multiple", "true-false", "yes-no", ...
    Veltro::PollType::POLL_TYPE pollType;          ///< What PresenterCollab::startPoll() sends.
    Veltro::OrdinalType::ORDINAL_TYPE ordinalType; ///< How its options are labelled.
    int defaultOptions;                            ///< Options when the host names no count.
    int minOptions;                                ///< Fewest options accepted.
    int maxOptions;                                ///< Most options accepted (0: the kind has none).
    const char *label;                             ///< Button text: "Multiple choice", "True / false", ...
                                                   ///< (untranslated; pollKindLabel() translates it).
};

/// The kind called `name` (case and surrounding blanks ignored; the wire
/// names "yes-no-other" and "math formula" and the spelled-out
/// "multiple-choice" and "math-formula" are accepted too); null when there
/// is none.
VELTROCLIENT_EXPORT const PollKind *pollKindByName(const QString &name);
/// The button text of the kind called `name` (as pollKindByName() finds it),
/// translated with QCoreApplication::translate() in the context
/// "Veltro::PollKind"; empty when there is no such kind.
VELTROCLIENT_EXPORT QString pollKindLabel(const QString &name);
/// The names of every kind, in table order: multiple, true-false, yes-no,
/// scale, sort, text, number, math, word-seed, creative.
VELTROCLIENT_EXPORT QStringList pollKindNames();

} // namespace Veltro
