#include "ui/help_texts.h"

#include <array>

#include "ui/localisation.h"

namespace tkb::ui {
namespace {

using Texts = std::array<const char*, kLanguageCount>;

// One row per HelpText, in its order: English, Spanish, Italian, French, German, Portuguese.
// The button names inside the sentences are the buttons' own texts in that language.
constexpr Texts kTexts[kHelpTextCount] = {
    {"Searching for the pedal set...", "Buscando los pedales...", "Ricerca della pedaliera...",
     "Recherche du pédalier...", "Suche nach dem Pedalset...", "À procura dos pedais..."},
    {"No pedal set found yet", "Todavía no se han encontrado los pedales", "Pedaliera non ancora trovata",
     "Pédalier pas encore trouvé", "Noch kein Pedalset gefunden", "Pedais ainda não encontrados"},
    {"Every serial port was looked at %1 times; the search goes on.",
     "Se han revisado todos los puertos serie %1 veces; la búsqueda continúa.",
     "Tutte le porte seriali sono state controllate %1 volte; la ricerca continua.",
     "Tous les ports série ont été examinés %1 fois ; la recherche continue.",
     "Alle seriellen Schnittstellen wurden %1-mal geprüft; die Suche läuft weiter.",
     "Todas as portas série foram verificadas %1 vezes; a procura continua."},
    {"Serial ports seen:", "Puertos serie encontrados:", "Porte seriali trovate:", "Ports série vus :",
     "Gefundene serielle Schnittstellen:", "Portas série encontradas:"},
    {"No serial port at all: this computer does not see the pedal set.",
     "Ningún puerto serie: este ordenador no ve los pedales.",
     "Nessuna porta seriale: questo computer non vede la pedaliera.",
     "Aucun port série : cet ordinateur ne voit pas le pédalier.",
     "Keine serielle Schnittstelle: Dieser Computer sieht das Pedalset nicht.",
     "Nenhuma porta série: este computador não vê os pedais."},
    {"%1: another maker's device (USB %2), left alone", "%1: dispositivo de otro fabricante (USB %2), no se toca",
     "%1: dispositivo di un altro produttore (USB %2), non toccato",
     "%1 : appareil d'un autre fabricant (USB %2), laissé tel quel",
     "%1: Gerät eines anderen Herstellers (USB %2), bleibt unberührt",
     "%1: dispositivo de outro fabricante (USB %2), não é tocado"},
    {"%1: this user may not open it", "%1: este usuario no tiene permiso para abrirlo",
     "%1: questo utente non ha il permesso di aprirla", "%1 : cet utilisateur n'a pas le droit de l'ouvrir",
     "%1: dieser Benutzer darf sie nicht öffnen", "%1: este utilizador não tem permissão para a abrir"},
    {"%1: in use by another program", "%1: en uso por otro programa", "%1: in uso da un altro programma",
     "%1 : utilisé par un autre programme", "%1: von einem anderen Programm belegt", "%1: em uso por outro programa"},
    {"%1: does not answer as the pedal set", "%1: no responde como los pedales", "%1: non risponde come la pedaliera",
     "%1 : ne répond pas comme le pédalier", "%1: antwortet nicht wie das Pedalset",
     "%1: não responde como os pedais"},
    {"%1: cannot be opened (%2)", "%1: no se puede abrir (%2)", "%1: impossibile aprirla (%2)",
     "%1 : impossible de l'ouvrir (%2)", "%1: lässt sich nicht öffnen (%2)", "%1: não é possível abri-la (%2)"},
    {"Plug the pedal set in (USB) and wait a moment: the program carries on by itself as soon as the pedals "
     "answer. DIAGNOSE shows what this computer sees of them; DEMO shows the program with emulated pedals.",
     "Conecte los pedales (USB) y espere un momento: el programa continúa solo en cuanto los pedales respondan. "
     "DIAGNOSTICAR muestra lo que este ordenador ve de ellos; DEMO muestra el programa con pedales emulados.",
     "Collega la pedaliera (USB) e attendi un momento: il programma prosegue da solo appena la pedaliera "
     "risponde. DIAGNOSI mostra ciò che questo computer vede di essa; DEMO mostra il programma con una "
     "pedaliera emulata.",
     "Branchez le pédalier (USB) et patientez un instant : le programme continue tout seul dès que le pédalier "
     "répond. DIAGNOSTIC montre ce que cet ordinateur en voit ; DÉMO montre le programme avec un pédalier émulé.",
     "Schließen Sie das Pedalset an (USB) und warten Sie einen Moment: Das Programm macht von selbst weiter, "
     "sobald die Pedale antworten. DIAGNOSE zeigt, was dieser Computer von ihnen sieht; DEMO zeigt das Programm "
     "mit emulierten Pedalen.",
     "Ligue os pedais (USB) e aguarde um momento: o programa continua sozinho assim que os pedais responderem. "
     "DIAGNOSTICAR mostra o que este computador vê deles; DEMO mostra o programa com pedais emulados."},
    {"A port of the pedal set refuses this user: ALLOW ACCESS installs the access rule (administrator "
     "password); then unplug the pedals and plug them in again.",
     "Un puerto de los pedales rechaza a este usuario: PERMITIR ACCESO instala la regla de acceso (contraseña "
     "de administrador); después desconecte los pedales y vuelva a conectarlos.",
     "Una porta della pedaliera rifiuta questo utente: CONSENTI ACCESSO installa la regola di accesso "
     "(password di amministratore); poi scollega la pedaliera e ricollegala.",
     "Un port du pédalier refuse cet utilisateur : AUTORISER L'ACCÈS installe la règle d'accès (mot de passe "
     "administrateur) ; débranchez ensuite le pédalier et rebranchez-le.",
     "Eine Schnittstelle des Pedalsets verweigert diesem Benutzer den Zugriff: ZUGRIFF ERLAUBEN installiert "
     "die Zugriffsregel (Administratorpasswort); danach die Pedale aus- und wieder einstecken.",
     "Uma porta dos pedais recusa este utilizador: PERMITIR ACESSO instala a regra de acesso (palavra-passe de "
     "administrador); depois desligue os pedais e volte a ligá-los."},
    {"DIAGNOSE", "DIAGNOSTICAR", "DIAGNOSI", "DIAGNOSTIC", "DIAGNOSE", "DIAGNOSTICAR"},
    {"ALLOW ACCESS", "PERMITIR ACCESO", "CONSENTI ACCESSO", "AUTORISER L'ACCÈS", "ZUGRIFF ERLAUBEN",
     "PERMITIR ACESSO"},
    {"DEMO", "DEMO", "DEMO", "DÉMO", "DEMO", "DEMO"},

    {"The pedal set answers on its serial port (%1), but its joystick interface (the pedal axes) is missing.",
     "Los pedales responden en su puerto serie (%1), pero falta su interfaz de joystick (los ejes de los "
     "pedales).",
     "La pedaliera risponde sulla sua porta seriale (%1), ma manca la sua interfaccia joystick (gli assi dei "
     "pedali).",
     "Le pédalier répond sur son port série (%1), mais son interface joystick (les axes des pédales) est "
     "absente.",
     "Das Pedalset antwortet an seiner seriellen Schnittstelle (%1), aber seine Joystick-Schnittstelle (die "
     "Pedalachsen) fehlt.",
     "Os pedais respondem na sua porta série (%1), mas falta a sua interface de joystick (os eixos dos "
     "pedais)."},
    {"The pedal set answers on its serial port (%1) and its joystick interface (%2) is there, but this user "
     "may not read it: DIAGNOSE, then ALLOW ACCESS, or run once:",
     "Los pedales responden en su puerto serie (%1) y su interfaz de joystick (%2) está presente, pero este "
     "usuario no puede leerla: DIAGNOSTICAR y luego PERMITIR ACCESO, o ejecute una vez:",
     "La pedaliera risponde sulla sua porta seriale (%1) e la sua interfaccia joystick (%2) è presente, ma "
     "questo utente non può leggerla: DIAGNOSI, poi CONSENTI ACCESSO, oppure esegui una volta:",
     "Le pédalier répond sur son port série (%1) et son interface joystick (%2) est présente, mais cet "
     "utilisateur ne peut pas la lire : DIAGNOSTIC, puis AUTORISER L'ACCÈS, ou exécutez une fois :",
     "Das Pedalset antwortet an seiner seriellen Schnittstelle (%1) und seine Joystick-Schnittstelle (%2) ist "
     "da, aber dieser Benutzer darf sie nicht lesen: DIAGNOSE, dann ZUGRIFF ERLAUBEN, oder einmal ausführen:",
     "Os pedais respondem na sua porta série (%1) e a sua interface de joystick (%2) está presente, mas este "
     "utilizador não a pode ler: DIAGNOSTICAR e depois PERMITIR ACESSO, ou execute uma vez:"},

    {"Pedal set diagnosis", "Diagnóstico de los pedales", "Diagnosi della pedaliera", "Diagnostic du pédalier",
     "Diagnose des Pedalsets", "Diagnóstico dos pedais"},
    {"OK", "OK", "OK", "OK", "OK", "OK"},
    {"NOTE", "NOTA", "NOTA", "REMARQUE", "HINWEIS", "NOTA"},
    {"PROBLEM", "PROBLEMA", "PROBLEMA", "PROBLÈME", "PROBLEM", "PROBLEMA"},
    {"SAME CAUSE", "MISMA CAUSA", "STESSA CAUSA", "MÊME CAUSE", "GLEICHE URSACHE", "MESMA CAUSA"},
    {"Nothing is wrong.", "No hay ningún problema.", "Nessun problema.", "Aucun problème.", "Alles in Ordnung.",
     "Não há nenhum problema."},
    {"Problems found: %1", "Problemas encontrados: %1", "Problemi trovati: %1", "Problèmes trouvés : %1",
     "Gefundene Probleme: %1", "Problemas encontrados: %1"},
    {"COPY", "COPIAR", "COPIA", "COPIER", "KOPIEREN", "COPIAR"},
    {"CLOSE", "CERRAR", "CHIUDI", "FERMER", "SCHLIESSEN", "FECHAR"},
    {"Installs the pedals' udev rule as administrator (pkexec)",
     "Instala la regla udev de los pedales como administrador (pkexec)",
     "Installa la regola udev della pedaliera come amministratore (pkexec)",
     "Installe la règle udev du pédalier en tant qu'administrateur (pkexec)",
     "Installiert die udev-Regel der Pedale als Administrator (pkexec)",
     "Instala a regra udev dos pedais como administrador (pkexec)"},
    {"Waiting for the administrator's password...", "Esperando la contraseña del administrador...",
     "In attesa della password dell'amministratore...", "En attente du mot de passe administrateur...",
     "Warte auf das Administratorpasswort...", "À espera da palavra-passe do administrador..."},
    {"The access rule is in place. Unplug the pedal set and plug it in again.",
     "La regla de acceso está instalada. Desconecte los pedales y vuelva a conectarlos.",
     "La regola di accesso è installata. Scollega la pedaliera e ricollegala.",
     "La règle d'accès est en place. Débranchez le pédalier et rebranchez-le.",
     "Die Zugriffsregel ist installiert. Stecken Sie das Pedalset aus und wieder ein.",
     "A regra de acesso está instalada. Desligue os pedais e volte a ligá-los."},
    {"The access rule was not installed (pkexec ended with status %1).",
     "La regla de acceso no se ha instalado (pkexec terminó con el estado %1).",
     "La regola di accesso non è stata installata (pkexec è terminato con lo stato %1).",
     "La règle d'accès n'a pas été installée (pkexec s'est terminé avec le code %1).",
     "Die Zugriffsregel wurde nicht installiert (pkexec endete mit Status %1).",
     "A regra de acesso não foi instalada (o pkexec terminou com o estado %1)."},
    {"pkexec could not be started.", "No se pudo iniciar pkexec.", "Impossibile avviare pkexec.",
     "Impossible de lancer pkexec.", "pkexec konnte nicht gestartet werden.", "Não foi possível iniciar o pkexec."},
    {"The pedal set can be opened now.", "Ya se pueden abrir los pedales.", "Ora la pedaliera può essere aperta.",
     "Le pédalier peut maintenant être ouvert.", "Das Pedalset kann jetzt geöffnet werden.",
     "Os pedais já podem ser abertos."},

    {"VR MONITOR", "MONITOR VR", "MONITOR VR", "MONITEUR VR", "VR-MONITOR", "MONITOR VR"},
    {"The VR monitor needs a VR runtime, and none was found (%1). Install SteamVR (from Steam) and start it "
     "once; its libopenvr_api.so must be on the library path (LD_LIBRARY_PATH). OPEN MONITOR shows the pedals "
     "on the desktop meanwhile.",
     "El monitor VR necesita un entorno de ejecución VR y no se ha encontrado ninguno (%1). Instale SteamVR "
     "(desde Steam) e inícielo una vez; su libopenvr_api.so debe estar en la ruta de bibliotecas "
     "(LD_LIBRARY_PATH). Mientras tanto, ABRIR MONITOR muestra los pedales en el escritorio.",
     "Il monitor VR ha bisogno di un runtime VR e non ne è stato trovato nessuno (%1). Installa SteamVR (da "
     "Steam) e avvialo una volta; la sua libopenvr_api.so deve trovarsi nel percorso delle librerie "
     "(LD_LIBRARY_PATH). Nel frattempo ATTIVARE MONITOR mostra i pedali sul desktop.",
     "Le moniteur VR a besoin d'un runtime VR et aucun n'a été trouvé (%1). Installez SteamVR (depuis Steam) "
     "et lancez-le une fois ; sa libopenvr_api.so doit se trouver dans le chemin des bibliothèques "
     "(LD_LIBRARY_PATH). En attendant, OUVRIR MONITOR affiche les pédales sur le bureau.",
     "Der VR-Monitor braucht eine VR-Laufzeitumgebung, und es wurde keine gefunden (%1). Installieren Sie "
     "SteamVR (über Steam) und starten Sie es einmal; seine libopenvr_api.so muss im Bibliothekspfad liegen "
     "(LD_LIBRARY_PATH). Bis dahin zeigt MONITOR ÖFFNEN die Pedale auf dem Desktop.",
     "O monitor VR precisa de um runtime VR e não foi encontrado nenhum (%1). Instale o SteamVR (a partir do "
     "Steam) e inicie-o uma vez; a sua libopenvr_api.so tem de estar no caminho das bibliotecas "
     "(LD_LIBRARY_PATH). Entretanto, ABRIR MONITOR mostra os pedais no ambiente de trabalho."},
    {"The demo pedal set could not be started: %1", "No se pudieron iniciar los pedales de demostración: %1",
     "Impossibile avviare la pedaliera dimostrativa: %1", "Impossible de démarrer le pédalier de démonstration : %1",
     "Das Demo-Pedalset konnte nicht gestartet werden: %1", "Não foi possível iniciar os pedais de demonstração: %1"},
};

}  // namespace

const char* helpText(HelpText text, int language) {
  const int t = static_cast<int>(text);
  if (t < 0 || t >= kHelpTextCount || language < 0 || language >= kLanguageCount) return "";
  return kTexts[t][static_cast<size_t>(language)];
}

QString doctorPhrase(const Phrase& phrase, int language) {
  return QString::fromStdString(fillText(doctorText(phrase.text, language), phrase.args));
}

int desktopLanguage(const QLocale& locale) {
  switch (locale.language()) {
    case QLocale::Spanish: return 1;
    case QLocale::Italian: return 2;
    case QLocale::French: return 3;
    case QLocale::German: return 4;
    case QLocale::Portuguese: return 5;
    default: return 0;
  }
}

}  // namespace tkb::ui
