// The call engine's records: how one request of PresenterClient ended and
// what its answer said. A call hands them from step to step, so no result
// passes through state that other calls share. Not installed.
#pragma once

#include "learner.h"
#include "veltronamespace.h"

#include <QList>
#include <QString>

#include <functional>

namespace Veltro {

// What one answer said, as its handler read it. Only the members the handler
// of that request reads are set.
struct Answer
{
    bool json = false;              // the body parsed as JSON
    bool signedIn = false;          // a sign-in, token or user answer that says signed in
    bool registrationAsked = false; // the account must register first
    QString registrationData;       // the registration JSON it asked to complete
    bool tokenIssued = false;
    QString accessToken;
    QString userId;
    QString sessionCode;
    QString collabUrl;
    QStringList protocols;
    QString sessionToken;
    QString userToken;
    bool learnersRead = false; // the answer carried a learner list
    QList<Learner> learners;
    QString resourceId;
    QString serviceError; // the error text the answer gave (its key, or what a registration still asks)
    QString ownError;     // a text of the library's own about this answer ("ResponseTooLarge")
};

// How one request ended, for the call it belongs to.
struct RequestOutcome
{
    Error transport = Error::None; // failed below HTTP: refused, timed out, TLS, too large ...
    QString transportText;
    bool httpError = false;  // the service answered with an error status
    int status = 0;          // that status
    QString serviceKey;      // the first error key of such an answer ("error..."), if any
    bool redirected = false; // a followed redirect: no handler ran
    Answer answer;           // what the answer said
};

using Continuation = std::function<void(const RequestOutcome &)>;

} // namespace Veltro
