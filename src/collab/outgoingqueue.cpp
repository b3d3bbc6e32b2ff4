#include "outgoingqueue_p.h"

OutgoingQueue::OutgoingQueue(int frameLimit, qint64 charLimit)
    : maxFrames(qMax(1, frameLimit))
    , maxChars(qMax<qint64>(1, charLimit))
{
}

int OutgoingQueue::push(const QString &frame)
{
    if (frame.size() > maxChars) {
        ++droppedCount;
        return 1;
    }
    int dropped = 0;
    while (!frames.empty() && (int(frames.size()) >= maxFrames || totalChars + frame.size() > maxChars)) {
        totalChars -= frames.front().size();
        frames.pop_front();
        ++dropped;
    }
    frames.push_back(frame);
    totalChars += frame.size();
    droppedCount += dropped;
    return dropped;
}

QStringList OutgoingQueue::takeAll()
{
    QStringList out;
    out.reserve(int(frames.size()));
    for (QString &f : frames)
        out.append(std::move(f));
    frames.clear();
    totalChars = 0;
    return out;
}

void OutgoingQueue::clear()
{
    frames.clear();
    totalChars = 0;
}
