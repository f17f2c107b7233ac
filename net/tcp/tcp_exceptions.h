// The failures raised by the TCP transport, the buffered connection and the
// clients built on it. Every one carries its ready-made French message.
#pragma once

#include <string>
#include <utility>

#include "net/socket/exceptions.h"

namespace quillon {

// Transport and connect.
QUILLON_EXCEPTION(EIdClosedSocket, EIdException);
QUILLON_EXCEPTION(EIdConnectException, EIdException);
QUILLON_EXCEPTION(EIdConnectTimeout, EIdException);
QUILLON_EXCEPTION(EIdSocksNotSupported, EIdException);

// Buffered connection.
QUILLON_EXCEPTION(EIdTCPConnectionError, EIdException);
QUILLON_EXCEPTION(EIdNotConnected, EIdTCPConnectionError);
QUILLON_EXCEPTION(EIdNotEnoughDataInBuffer, EIdTCPConnectionError);
QUILLON_EXCEPTION(EIdNoDataToRead, EIdTCPConnectionError);
QUILLON_EXCEPTION(EIdIOHandlerPropInvalid, EIdTCPConnectionError);
QUILLON_EXCEPTION(EIdFileNotFound, EIdTCPConnectionError);
// More bytes than a reader accepts (a server that never stops sending).
QUILLON_EXCEPTION(EIdReplyTooLong, EIdTCPConnectionError);
QUILLON_EXCEPTION(EIdReadTimeout, EIdException);
QUILLON_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException);
QUILLON_EXCEPTION(EIdAlreadyConnected, EIdException);

// A numbered reply whose code the caller does not accept.
class EIdProtocolReplyError : public EIdException {
 public:
  EIdProtocolReplyError(int code, std::string message)
      : EIdException(std::move(message)), ReplyErrorCode(code) {}
  int ReplyErrorCode;
};

// Whois.
QUILLON_EXCEPTION(EIdWhoisInvalidQuery, EIdException);

// The messages, shared by the raising code and the tests.
namespace msg {
inline constexpr const char* kClosedSocket = "Déconnecté.";
inline constexpr const char* kConnectTimeout = "Délai de connexion.";
inline constexpr const char* kSocksNotSupported = "Connexion par proxy SOCKS non prise en charge.";
inline constexpr const char* kConnClosedGracefully = "La connexion s'est terminée proprement.";
inline constexpr const char* kReadTimeout = "Délai de lecture";
inline constexpr const char* kMaxLineLengthExceeded = "Longueur de ligne maximum dépassée.";
inline constexpr const char* kNotConnected = "Non connecté";
inline constexpr const char* kNotEnoughData = "Pas suffisamment de données en mémoire tampon.";
inline constexpr const char* kNoDataToRead = "Pas de données pour la lecture.";
inline constexpr const char* kFileNotFound = "Fichier \"%s\" non trouvé";
inline constexpr const char* kAlreadyConnected = "Déjà connecté.";
inline constexpr const char* kReplyTooLong = "Réponse trop longue : plus de %zu octets reçus.";
inline constexpr const char* kWhoisInvalidQuery =
    "Requête whois refusée : elle contient un retour chariot, un saut de ligne ou un octet nul.";
}  // namespace msg

}  // namespace quillon
