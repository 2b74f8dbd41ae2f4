#include "ui/trace_texts.h"

#include <array>

#include "ui/controller_model.h"
#include "ui/help_texts.h"
#include "ui/localisation.h"

namespace tkb::ui {
namespace {

using Texts = std::array<const char*, kLanguageCount>;

// One row per TraceText, in its order: English, Spanish, Italian, French, German, Portuguese.
// The button names inside the sentences are the buttons' own texts in that language.
constexpr Texts kTexts[kTraceTextCount] = {
    {"TRACE", "TRAZADO", "TRACCIA", "TRACÉ", "VERLAUF", "TRAÇADO"},
    {"BARS", "BARRAS", "BARRE", "BARRES", "BALKEN", "BARRAS"},
    {"TRACE", "TRAZADO", "TRACCIA", "TRACÉ", "VERLAUF", "TRAÇADO"},
    {"Monitor view", "Vista del monitor", "Vista del monitor", "Vue du moniteur", "Monitoransicht",
     "Vista do monitor"},
    {"Bars", "Barras", "Barre", "Barres", "Balken", "Barras"},
    {"Trace", "Trazado", "Traccia", "Tracé", "Verlauf", "Traçado"},

    {"Pedal trace", "Trazado de los pedales", "Traccia dei pedali", "Tracé des pédales", "Pedalverlauf",
     "Traçado dos pedais"},
    {"INPUT", "ENTRADA", "INGRESSO", "ENTRÉE", "EINGANG", "ENTRADA"},
    {"OUTPUT", "SALIDA", "USCITA", "SORTIE", "AUSGANG", "SAÍDA"},
    {"The last 10 s of your feet: each pedal's travel in percent.",
     "Los últimos 10 s de sus pies: el recorrido de cada pedal en porcentaje.",
     "Gli ultimi 10 s dei tuoi piedi: la corsa di ogni pedale in percentuale.",
     "Les 10 dernières secondes de vos pieds : la course de chaque pédale en pourcentage.",
     "Die letzten 10 s Ihrer Füße: der Weg jedes Pedals in Prozent.",
     "Os últimos 10 s dos seus pés: o curso de cada pedal em percentagem."},
    {"The last 10 s as the game gets them: after the dead zones and the curve in force.",
     "Los últimos 10 s tal como los recibe el juego: tras las zonas muertas y la curva en uso.",
     "Gli ultimi 10 s come li riceve il gioco: dopo le zone morte e la curva in uso.",
     "Les 10 dernières secondes telles que le jeu les reçoit : après les zones mortes et la courbe en vigueur.",
     "Die letzten 10 s, wie das Spiel sie erhält: nach den Totzonen und der aktiven Kurve.",
     "Os últimos 10 s tal como o jogo os recebe: depois das zonas mortas e da curva em uso."},
    {"Clutch", "Embrague", "Frizione", "Embrayage", "Kupplung", "Embraiagem"},
    {"Brake", "Freno", "Freno", "Frein", "Bremse", "Travão"},
    {"Throttle", "Acelerador", "Acceleratore", "Accélérateur", "Gas", "Acelerador"},
    {"Last braking", "Última frenada", "Ultima frenata", "Dernier freinage", "Letzte Bremsung", "Última travagem"},
    {"Reference", "Referencia", "Riferimento", "Référence", "Referenz", "Referência"},
    {"Peak", "Pico", "Picco", "Pic", "Spitze", "Pico"},
    {"Time to peak", "Tiempo hasta el pico", "Tempo al picco", "Temps jusqu'au pic", "Zeit bis zur Spitze",
     "Tempo até ao pico"},
    {"Held at 90 % of peak", "Mantenido al 90 % del pico", "Tenuto al 90 % del picco", "Maintenu à 90 % du pic",
     "Gehalten bei 90 % der Spitze", "Mantido a 90 % do pico"},
    {"Release", "Liberación", "Rilascio", "Relâchement", "Lösen", "Libertação"},
    {"PIN", "FIJAR", "FISSA", "ÉPINGLER", "FIXIEREN", "FIXAR"},
    {"UNPIN", "QUITAR", "RIMUOVI", "RETIRER", "ENTFERNEN", "REMOVER"},
    {"RECORD", "GRABAR", "REGISTRA", "ENREGISTRER", "AUFNEHMEN", "GRAVAR"},
    {"STOP", "PARAR", "STOP", "ARRÊTER", "STOPP", "PARAR"},
    {"PEDAL CHECK", "REVISAR PEDALES", "VERIFICA PEDALI", "VÉRIFIER LES PÉDALES", "PEDALPRÜFUNG",
     "VERIFICAR PEDAIS"},
    {"APPLY", "APLICAR", "APPLICA", "APPLIQUER", "ANWENDEN", "APLICAR"},
    {"CLOSE", "CERRAR", "CHIUDI", "FERMER", "SCHLIESSEN", "FECHAR"},
    {"Recording into %1: %2 s", "Grabando en %1: %2 s", "Registrazione in %1: %2 s", "Enregistrement dans %1 : %2 s",
     "Aufnahme in %1: %2 s", "A gravar em %1: %2 s"},
    {"%1 samples recorded into %2", "%1 muestras grabadas en %2", "%1 campioni registrati in %2",
     "%1 échantillons enregistrés dans %2", "%1 Messwerte in %2 aufgenommen", "%1 amostras gravadas em %2"},
    {"The recording could not be written: %1", "No se pudo escribir la grabación: %1",
     "Impossibile scrivere la registrazione: %1", "L'enregistrement n'a pas pu être écrit : %1",
     "Die Aufnahme konnte nicht geschrieben werden: %1", "Não foi possível escrever a gravação: %1"},
    {"The reference could not be kept in config.ini.", "No se pudo guardar la referencia en config.ini.",
     "Impossibile salvare il riferimento in config.ini.", "La référence n'a pas pu être gardée dans config.ini.",
     "Die Referenz konnte nicht in config.ini gespeichert werden.",
     "Não foi possível guardar a referência em config.ini."},
    {"The reference could not be removed from config.ini.", "No se pudo quitar la referencia de config.ini.",
     "Impossibile rimuovere il riferimento da config.ini.", "La référence n'a pas pu être retirée de config.ini.",
     "Die Referenz konnte nicht aus config.ini entfernt werden.",
     "Não foi possível remover a referência de config.ini."},

    {"Keep your feet off the pedals: %1 s", "Mantenga los pies fuera de los pedales: %1 s",
     "Tieni i piedi lontani dai pedali: %1 s", "Gardez les pieds hors des pédales : %1 s",
     "Füße von den Pedalen lassen: %1 s", "Mantenha os pés fora dos pedais: %1 s"},
    {"Press each pedal fully, once: %1 s", "Pise cada pedal a fondo, una vez: %1 s",
     "Premi ogni pedale a fondo, una volta: %1 s", "Enfoncez chaque pédale à fond, une fois : %1 s",
     "Jedes Pedal einmal ganz durchtreten: %1 s", "Pressione cada pedal a fundo, uma vez: %1 s"},
    {"Samples: %1 per second, jitter %2 ms", "Muestras: %1 por segundo, variación %2 ms",
     "Campioni: %1 al secondo, variazione %2 ms", "Échantillons : %1 par seconde, gigue %2 ms",
     "Messwerte: %1 pro Sekunde, Schwankung %2 ms", "Amostras: %1 por segundo, variação %2 ms"},
    {"The pedals sent nothing: there is nothing to measure.", "Los pedales no enviaron nada: no hay nada que medir.",
     "La pedaliera non ha inviato nulla: non c'è nulla da misurare.",
     "Le pédalier n'a rien envoyé : il n'y a rien à mesurer.",
     "Die Pedale haben nichts gesendet: Es gibt nichts zu messen.",
     "Os pedais não enviaram nada: não há nada para medir."},
    {"%1 rests between %2 and %3 %: a lower dead zone of %4 % keeps the game at 0.",
     "%1 reposa entre %2 y %3 %: una zona muerta inferior del %4 % mantiene el juego en 0.",
     "%1 riposa tra %2 e %3 %: una zona morta inferiore del %4 % tiene il gioco a 0.",
     "%1 repose entre %2 et %3 % : une zone morte basse de %4 % garde le jeu à 0.",
     "%1 ruht zwischen %2 und %3 %: eine untere Totzone von %4 % hält das Spiel auf 0.",
     "%1 repousa entre %2 e %3 %: uma zona morta inferior de %4 % mantém o jogo em 0."},
    {"%1 moved while it should rest (%2 to %3 %): no lower dead zone suggested; check again with your feet off.",
     "%1 se movió cuando debía reposar (%2 a %3 %): no se sugiere zona muerta inferior; repita con los pies fuera.",
     "%1: movimento a riposo (da %2 a %3 %): nessuna zona morta inferiore suggerita; ripeti con i piedi "
     "lontani.",
     "%1 a bougé alors qu'il devait reposer (%2 à %3 %) : pas de zone morte basse suggérée ; recommencez les "
     "pieds hors des pédales.",
     "%1 hat sich in Ruhe bewegt (%2 bis %3 %): keine untere Totzone vorgeschlagen; mit den Füßen weg erneut "
     "prüfen.",
     "%1 moveu-se quando devia repousar (%2 a %3 %): nenhuma zona morta inferior sugerida; repita com os pés "
     "fora."},
    {"%1 rests as high as %2 %: too high for a dead zone; calibrate the pedals again (PRO, CALIBRATE).",
     "%1 reposa tan alto como %2 %: demasiado para una zona muerta; calibre los pedales de nuevo (PRO, CALIBRAR).",
     "%1 riposa fino a %2 %: troppo per una zona morta; calibra di nuovo la pedaliera (PRO, CALIBRA).",
     "%1 repose jusqu'à %2 % : trop haut pour une zone morte ; calibrez à nouveau le pédalier (PRO, CALIBRER).",
     "%1 ruht bei bis zu %2 %: zu hoch für eine Totzone; kalibrieren Sie die Pedale neu (PRO, KALIBRIEREN).",
     "%1 repousa até %2 %: demasiado alto para uma zona morta; calibre os pedais de novo (PRO, CALIBRAR)."},
    {"%1 reaches %2 %: an upper dead zone of %3 % gives the game 100 at full travel.",
     "%1 llega al %2 %: una zona muerta superior del %3 % da al juego 100 a fondo.",
     "%1 arriva al %2 %: una zona morta superiore del %3 % dà al gioco 100 a fine corsa.",
     "%1 atteint %2 % : une zone morte haute de %3 % donne 100 au jeu en fin de course.",
     "%1 erreicht %2 %: eine obere Totzone von %3 % gibt dem Spiel 100 bei vollem Weg.",
     "%1 chega a %2 %: uma zona morta superior de %3 % dá ao jogo 100 no fim do curso."},
    {"%1 was not pressed: its upper dead zone is left as it is.",
     "%1 no se pisó: su zona muerta superior se deja como está.",
     "%1 non è stato premuto: la sua zona morta superiore resta com'è.",
     "%1 n'a pas été enfoncé : sa zone morte haute reste telle quelle.",
     "%1 wurde nicht getreten: die obere Totzone bleibt, wie sie ist.",
     "%1 não foi pressionado: a sua zona morta superior fica como está."},
    {"%1 reaches only %2 %: too little travel for an upper dead zone; calibrate the pedals again (PRO, CALIBRATE).",
     "%1 solo llega al %2 %: poco recorrido para una zona muerta superior; calibre los pedales de nuevo (PRO, "
     "CALIBRAR).",
     "%1 arriva solo al %2 %: corsa troppo breve per una zona morta superiore; calibra di nuovo la pedaliera (PRO, "
     "CALIBRA).",
     "%1 n'atteint que %2 % : trop peu de course pour une zone morte haute ; calibrez à nouveau le pédalier (PRO, "
     "CALIBRER).",
     "%1 erreicht nur %2 %: zu wenig Weg für eine obere Totzone; kalibrieren Sie die Pedale neu (PRO, "
     "KALIBRIEREN).",
     "%1 só chega a %2 %: curso insuficiente para uma zona morta superior; calibre os pedais de novo (PRO, "
     "CALIBRAR)."},
    {"Brake reaches %1 % of its force: its upper dead zone is the brake limit you chose (MAX BRAKE PRESS), left as "
     "it is; at %2 % or less a full press gives the game 100.",
     "El freno llega al %1 % de su fuerza: su zona muerta superior es el límite que usted eligió (MAX BRAKE PRESS), "
     "se deja como está; con %2 % o menos una frenada a fondo da al juego 100.",
     "Il freno arriva al %1 % della sua forza: la sua zona morta superiore è il limite che hai scelto (MAX BRAKE "
     "PRESS), resta com'è; a %2 % o meno una frenata piena dà al gioco 100.",
     "Le frein atteint %1 % de sa force : sa zone morte haute est la limite que vous avez choisie (MAX BRAKE PRESS), "
     "laissée telle quelle ; à %2 % ou moins un freinage à fond donne 100 au jeu.",
     "Die Bremse erreicht %1 % ihrer Kraft: ihre obere Totzone ist die gewählte Bremsgrenze (MAX BRAKE PRESS) und "
     "bleibt, wie sie ist; bei %2 % oder weniger gibt ein voller Tritt dem Spiel 100.",
     "O travão chega a %1 % da sua força: a sua zona morta superior é o limite que escolheu (MAX BRAKE PRESS), fica "
     "como está; com %2 % ou menos uma travagem a fundo dá ao jogo 100."},
    {"Clutch was not pressed (or there is none): its dead zones are left as they are.",
     "El embrague no se pisó (o no hay): sus zonas muertas se dejan como están.",
     "La frizione non è stata premuta (o non c'è): le sue zone morte restano come sono.",
     "L'embrayage n'a pas été enfoncé (ou il n'y en a pas) : ses zones mortes restent telles quelles.",
     "Die Kupplung wurde nicht getreten (oder fehlt): ihre Totzonen bleiben, wie sie sind.",
     "A embraiagem não foi pressionada (ou não existe): as suas zonas mortas ficam como estão."},
    {"Nothing to send.", "Nada que enviar.", "Niente da inviare.", "Rien à envoyer.", "Nichts zu senden.",
     "Nada para enviar."},
    {"APPLY sends the suggested dead zones to the pedals.", "APLICAR envía las zonas muertas sugeridas a los pedales.",
     "APPLICA invia alla pedaliera le zone morte suggerite.",
     "APPLIQUER envoie les zones mortes suggérées au pédalier.",
     "ANWENDEN sendet die vorgeschlagenen Totzonen an die Pedale.",
     "APLICAR envia as zonas mortas sugeridas aos pedais."},
    {"The pedals cannot take settings now (being read, calibrated or unplugged).",
     "Los pedales no pueden recibir ajustes ahora (en lectura, calibración o desconectados).",
     "La pedaliera non può ricevere impostazioni ora (in lettura, in calibrazione o scollegata).",
     "Le pédalier ne peut pas recevoir de réglages maintenant (lecture, calibrage ou débranché).",
     "Die Pedale können jetzt keine Einstellungen annehmen (werden gelesen, kalibriert oder sind getrennt).",
     "Os pedais não podem receber definições agora (em leitura, calibração ou desligados)."},
    {"Sent. APPLY SETTINGS on the PRO page stores them in the pedals.",
     "Enviado. APLICAR AJUSTES en la página PRO los guarda en los pedales.",
     "Inviato. APPLICA IMPOSTAZIONI nella pagina PRO le salva nella pedaliera.",
     "Envoyé. APPLIQUER LES RÉGLAGES sur la page PRO les enregistre dans le pédalier.",
     "Gesendet. EINSTELLUNGEN ANWENDEN auf der PRO-Seite speichert sie in den Pedalen.",
     "Enviado. APLICAR DEFINIÇÕES na página PRO guarda-as nos pedais."},
    {"%1: not sent, its lower dead zone would not stay below its upper one.",
     "%1: no se envía, su zona muerta inferior no quedaría por debajo de la superior.",
     "%1: non inviato, la zona morta inferiore non resterebbe sotto quella superiore.",
     "%1 : non envoyé, sa zone morte basse ne resterait pas sous la haute.",
     "%1: nicht gesendet, die untere Totzone bliebe nicht unter der oberen.",
     "%1: não enviado, a zona morta inferior não ficaria abaixo da superior."},
};

QString text(TraceText t, int language) { return traceText(t, language); }
QString number(double value) { return QString::number(value, 'f', 1); }

}  // namespace

QString traceText(TraceText text, int language) {
  const int row = static_cast<int>(text);
  if (row < 0 || row >= kTraceTextCount) return {};
  if (language < 0 || language >= kLanguageCount) language = 0;
  return QString::fromUtf8(kTexts[row][language]);
}

QString pedalName(Pedal pedal, int language) {
  constexpr TraceText kNames[kPedalCount] = {TraceText::Clutch, TraceText::Brake, TraceText::Throttle};
  return traceText(kNames[pedalIndex(pedal)], language);
}

QStringList checkFindings(const PedalCheckResult& r, int language) {
  QStringList out;
  if (r.timing.reports == 0) {
    out << text(TraceText::CheckNoSamples, language);
    return out;
  }
  out << text(TraceText::CheckTiming, language)
             .arg(number(r.timing.perSecond), QString::number(r.timing.jitterMs, 'f', 2));
  for (Pedal pedal : kPedals) {
    if (pedal == Pedal::Clutch && !r.hasClutch) continue;
    const PedalFinding& f = r.pedals[pedalIndex(pedal)];
    const QString name = pedalName(pedal, language);
    if (pedal == Pedal::Clutch && !f.pressed) {
      out << text(TraceText::ClutchNotPressed, language);
      continue;
    }
    switch (f.lowerAdvice) {
      case PedalFinding::Lower::Suggested:
        out << text(TraceText::LowerSuggested, language)
                   .arg(name, number(f.rest.min), number(f.rest.max), QString::number(f.lower.value_or(0)));
        break;
      case PedalFinding::Lower::MovedAtRest:
        out << text(TraceText::MovedAtRest, language).arg(name, number(f.rest.min), number(f.rest.max));
        break;
      case PedalFinding::Lower::TooHigh:
        out << text(TraceText::RestTooHigh, language).arg(name, number(f.rest.max));
        break;
      case PedalFinding::Lower::NotPressed: break;
    }
    switch (f.upperAdvice) {
      case PedalFinding::Upper::Suggested:
        out << text(TraceText::UpperSuggested, language).arg(name, number(f.top), QString::number(f.upper.value_or(0)));
        break;
      case PedalFinding::Upper::NotPressed: out << text(TraceText::UpperNotPressed, language).arg(name); break;
      case PedalFinding::Upper::TooShort:
        out << text(TraceText::UpperTooShort, language).arg(name, number(f.top));
        break;
      case PedalFinding::Upper::BrakeLimit:
        out << text(TraceText::BrakeLimit, language).arg(number(f.top), QString::number(f.upper.value_or(0)));
        break;
    }
  }
  return out;
}

void followLanguage(QObject* owner, ControllerModel& model, std::function<void(int)> show) {
  ControllerModel* m = &model;
  auto current = [m] { return languageIndex(m->state().language).value_or(desktopLanguage()); };
  show(current());
  QObject::connect(&model, &ControllerModel::languageChanged, owner, [show](int index) {
    if (index >= 0) show(index);
  });
  QObject::connect(&model, &ControllerModel::readsRefreshed, owner, [show, current] { show(current()); });
}

}  // namespace tkb::ui
