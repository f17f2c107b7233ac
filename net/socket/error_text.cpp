#include "net/socket/error_text.h"

#include <atomic>
#include <cstring>

#include "net/socket/exceptions.h"
#include "net/socket/platform.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

constexpr int kNotInitialised = 10093;
std::atomic<bool> gLoaded{false};

struct ErrorEntry {
  int code;
  const char* text;
};

constexpr ErrorEntry kErrorTexts[] = {
    {10004, "Appel système interrompu."},
    {10009, "Nombre de fichiers incorrect."},
    {10013, "Accès refusé."},
    {10014, "Adresse incorrecte."},
    {10022, "Argument incorrect."},
    {10024, "Trop de fichiers ouverts."},
    {10035, "L'opération risquerait de bloquer. "},
    {10036, "Opération en cours."},
    {10037, "Opération déjà en cours."},
    {10038, "Opération socket sur cible non-socket."},
    {10039, "Adresse de destination requise."},
    {10040, "Message trop long."},
    {10041, "Type de protocole inapproprié pour le socket."},
    {10042, "Option de protocole incorrecte."},
    {10043, "Protocole non supporté."},
    {10044, "Type de socket non supporté."},
    {10045, "Opération non supportée sur un socket."},
    {10046, "Famille de protocole non supportée."},
    {10047, "Famille d'adresse non supportée par la famille de protocole."},
    {10048, "Adresse déjà utilisée."},
    {10049, "Impossible d'affecter l'adresse requise."},
    {10050, "Le réseau est arrêté."},
    {10051, "Le réseau est inaccessible."},
    {10052, "Connexion interrompue ou réinitialisée par le réseau."},
    {10053, "Le logiciel a provoqué l'interruption de la connexion."},
    {10054, "Connexion réinitialisée par l'homologue (peer)."},
    {10055, "Aucun espace tampon disponible."},
    {10056, "Socket déjà connecté."},
    {10057, "Le socket n'est pas connecté."},
    {10058, "Envoi ou réception impossible après la fermeture du socket."},
    {10059, "Références trop nombreuses, attribution impossible."},
    {10060, "Délai de connexion dépassé."},
    {10061, "Connexion refusée."},
    {10062, "Trop de niveaux de liens symboliques."},
    {10063, "Nom de fichier trop long."},
    {10064, "Hôte arrêté."},
    {10065, "Pas de route vers l'hôte."},
    {10066, "Répertoire non vide"},
    {11001, "Hôte non trouvé."},
};

}  // namespace

int StartSocketLibrary(uint16_t requestedVersion, TWSAData& data) {
  if (gLoaded.load()) return 0;
  if (platform::FaultInjector::ShouldFail(platform::Call::LibraryStart)) {
    const int code = errno;
    throw EIdWS2StubError(
        code, SystemErrorText(code),
        Sprintf("Erreur de chargement de la bibliothèque (%s) Winsock2", "WS2_32.DLL"));
  }
  // Linux sockets need no loading; what remains is to report the version
  // granted and to open the window in which socket calls are allowed.
  data.wVersion = requestedVersion;
  data.wHighVersion = 0x0202;
  data.szDescription = "Linux sockets";
  gLoaded.store(true);
  return 0;
}

void UnloadSocketLibrary() {
  gLoaded.exchange(false);
}

bool SocketLibraryLoaded() {
  return gLoaded.load(std::memory_order_relaxed);
}

void RequireSocketLibrary(const char* function) {
  if (SocketLibraryLoaded()) return;
  throw EIdWS2StubError(
      kNotInitialised, SystemErrorText(kNotInitialised),
      Sprintf("Erreur d'appel de la fonction %s de la bibliothèque Winsock2", function));
}

const char* SocketErrorTextOf(int code) {
  for (const auto& e : kErrorTexts)
    if (e.code == code) return e.text;
  return "";
}

std::string SocketErrorMessage(int code) {
  return Sprintf("Erreur de socket # %d\r\n%s", code, SocketErrorTextOf(code));
}

std::string SystemErrorText(int code) {
  if (code == kNotInitialised)
    return "Le socket n'a pas été initialisé (la bibliothèque n'est pas démarrée).";
  if (code >= 10000) return SocketErrorTextOf(code);
  char buf[256];
  return ::strerror_r(code, buf, sizeof buf);
}

}  // namespace quillon
