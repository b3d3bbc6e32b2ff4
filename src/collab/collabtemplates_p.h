// The event bus's wire texts in one place: frame and body templates, all
// filled by fillJsonTemplate. Not installed.
#pragma once

#include <QString>

namespace Veltro {

inline const QString REGISTER_TEMPLATE = QStringLiteral(R"({"type":"register","address":"%0"})");
inline const QString PING_FRAME = QStringLiteral(R"({"type":"ping"})");
inline const QString PUBLISH_ENVELOPE_TEMPLATE =
    QStringLiteral(R"({"type":"publish","address":"%0","body":{"from":"%1","type":"%2","data":["%3"]}})");
inline const QString PUBLISH_BODY_TEMPLATE = QStringLiteral(R"({"type":"publish","address":"%0","body":%1})");
// What follows the payload (%3) in the envelope: it is the template's last value.
inline const QString ENVELOPE_TAIL = QStringLiteral(R"("]}})");
// Stands for a payload still being compressed while the body is serialized.
// "data" is the body's first member, so its first occurrence is the payload's.
inline const QString PENDING_PAYLOAD = QStringLiteral("veltro-pending-payload");
inline const QString QUOTED_STRING_TEMPLATE = QStringLiteral(R"("%0")");
inline const QString EMPTY_JSON_STRING = QStringLiteral(R"("")");
inline const QString CURRENT_CARD_TEMPLATE =
    QStringLiteral(R"({"currentCard":"%0", "cards": [%1], "totalCards":"%2"})");
inline const QString CARD_NAME_TEMPLATE = QStringLiteral(R"({"name":"%0"})");
inline const QString CURRENT_LESSON_TEMPLATE = QStringLiteral(R"({"lessonId":"%0", "name":"%1"})");
inline const QString IMAGE_CARD_TEMPLATE = QStringLiteral(
    R"({"segment":{"id":"%0"},"isTeacherCard":true,"autoSend":true,"notes":null,"tracks":[],"visible":true,)"
    R"("ordinal":1,"styles":{"backgroundColor":"","backgroundImage":""},"components":[{"ordinal":1397148149039,)"
    R"("styles":{"anchor":false,"width":770,"left":15,"height":570,"top":15},"blob":{"url":"%1"},"type":"image"}],)"
    R"("trackSortSeq":0,"_tId":"DF8A71DA-3EF2-44E3-9B2F-F651C7A8B0F9","hasStudentCards":false})");
inline const QString POLL_QUESTION_TEMPLATE = QStringLiteral(
    R"({"type":"%0","expressionQuestionId":1,"metadata":{"ordinalType":"%1","options":[%6]},"id":"%5",)"
    R"("sessionToken":"%2","sessionCode":"%3","lessonId":null,"startTime":%4,"lastUpdatedOn":%4,)"
    R"("card":{"segment":"fake-id","tracks":[{"placeholder":true}],"visible":true,"ordinal":1395358139515,)"
    R"("styles":{"backgroundColor":"","backgroundImage":"%7","backgroundSize":"100%"},"components":[]},)"
    R"("unrespondedUsers":[]})");
inline const QString POLL_TIME_STAMP = QStringLiteral("1395358151638");
inline const QString IMAGE_DATA_URL_PREFIX = QStringLiteral("data:image/png;base64,");

} // namespace Veltro
