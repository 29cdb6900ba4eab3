#include "app/window/ClipDragData.h"

#include "app/shell/OVMainView.h"

#include <QCoreApplication>
#include <QMimeData>
#include <QUrl>

namespace orvane {

namespace {

QByteArray encodedClip(qint64 processId, uint64_t clipId) {
    return QByteArray::number(processId) + ' ' + QByteArray::number(qulonglong(clipId));
}

} // namespace

QMimeData *arrangementClipMimeData(uint64_t clipId) {
    auto *data = new QMimeData;
    data->setData(arrangementClipMimeType, encodedClip(QCoreApplication::applicationPid(), clipId));
    return data;
}

uint64_t draggedArrangementClip(const QMimeData *data) {
    if (!data || !data->hasFormat(arrangementClipMimeType)) return 0;
    const QList<QByteArray> parts = data->data(arrangementClipMimeType).split(' ');
    if (parts.size() != 2) return 0;
    bool pidRead = false, idRead = false;
    const qint64 processId = parts[0].toLongLong(&pidRead);
    const qulonglong clipId = parts[1].toULongLong(&idRead);
    if (!pidRead || !idRead || processId != QCoreApplication::applicationPid()) return 0;
    return clipId;
}

std::vector<std::string> droppedMediaFiles(const QMimeData *data) {
    std::vector<std::string> paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl &url : data->urls())
        if (const std::string path = url.toLocalFile().toStdString();
            url.isLocalFile() && (isImportableAudioFile(path, true) || isMidiFileName(path)))
            paths.push_back(path);
    return paths;
}

} // namespace orvane
