#include "demos/transaction/user_record.h"

#include <QByteArray>

#include <cstring>

WGUserRecord RequestRecord(const QString& name) {
  WGUserRecord user;
  memset(&user, 0, sizeof user);
  user.uiRecordSize = WG_USER_RECORD_SIZE;
  QByteArray bytes = name.toUtf8();
  qsizetype length = std::min<qsizetype>(bytes.size(), WG_USER_ID_LENGTH);
  // Back off over the continuation bytes of a character that would not fit whole.
  if (length < bytes.size()) {
    while (length > 0 && (static_cast<uint8_t>(bytes[length]) & 0xC0) == 0x80) --length;
  }
  memcpy(user.szUserID, bytes.constData(), static_cast<size_t>(length));
  return user;
}

QString UserIdText(const WGUserRecord& user) {
  return QString::fromUtf8(user.szUserID, static_cast<qsizetype>(strnlen(user.szUserID, WG_USER_ID_LENGTH)));
}
