#include "ui/localisation.h"

namespace tkb::ui {

namespace {

constexpr const char* kNames[kLanguageCount] = {"English", "Spanish", "Italian",
                                               "French",  "German",  "Portuguese"};
constexpr const char* kManuals[kLanguageCount] = {"doc/en.pdf", "doc/es.pdf", "doc/it.pdf",
                                                  "doc/fr.pdf", "doc/de.pdf", "doc/po.pdf"};

// One row per LabelRole, in the order of the enumeration.
constexpr LabelTexts kLabelSets[kLabelRoleCount] = {
    // Main page: OPEN MONITOR button
    {"OPEN MONITOR", "ABRIR MONITOR", "ATTIVARE MONITOR", "OUVRIR MONITOR", "MONITOR ÖFFNEN", "ABRIR MONITOR"},
    // Main page: CLOSE MONITOR button
    {"CLOSE MONITOR", "CERRAR MONITOR", "CHIUDI MONITOR", "FERMER MONITOR", "MONITOR SCHLIEßEN", "FECHAR MONITOR"},
    // Main page: OPEN VR MONITOR button
    {"OPEN VR MONITOR", "ABRIR VR MONITOR", "ATTIVARE VR MONITOR", "OUVRIR VR MONITOR", "VR MONITOR ÖFFNEN", "ABRIR VR MONITOR"},
    // Main page: CLOSE VR MONITOR button
    {"CLOSE VR MONITOR", "CERRAR VR MONITOR", "CHIUDI VR MONITOR", "FERMER VR MONITOR", "VR MONITOR SCHLIEßEN", "FECHAR VR MONITOR"},
    // VR panel: size label
    {"SIZE:", "TAMAÑO:", "GRANDEZZA:", "TAILLE:", "GRÖßE:", "TAMANHO:"},
    // VR panel: horizontal position label
    {"HORIZONTAL:", "HORIZONTAL:", "ORIZZONTALE:", "HORIZONTAL:", "HORIZONTAL:", "HORIZONTAL:"},
    // VR panel: vertical position label
    {"VERTICAL:", "VERTICAL:", "VERTICALE:", "VERTICAL:", "VERTIKAL:", "VERTICAL:"},
    // VR panel: depth label
    {"DEPTH:", "PROFUNDIDAD:", "PROFONDITÀ:", "PROFONDEUR:", "TIEFE:", "PROFUNDIDADE:"},
    // VR panel: pitch label
    {"PITCH:", "INCL.FRONTAL:", "INCL.FRONTALE:", "INCL.AVANT:", "FRONT.NEIG.:", "INC.DIANTEIRA:"},
    // VR panel: yaw label
    {"YAW:", "INCL.LATERAL:", "INCL.LATERALE:", "INCL.LATÉRAL:", "VERT.NEIG.:", "INC.LATERAL:"},
    // VR panel: opacity label
    {"OPACITY:", "OPACIDAD:", "OPACITA:", "OPACITÉ:", "TRANSPARENZ:", "OPACIDADE:"},
    // VR panel: apply button
    {"APPLY VR SETTINGS", "APLICAR AJUSTES VR", "APPLICARE IMPOSTAZIONI", "APPLIQUER AJUSTEMENTS", "EINSTELLUNGEN ÜBERNEHMEN", "APLICAR DEFINIÇÕES VR"},
    // Main page: LANGUAGE button
    {"LANGUAGE", "IDIOMA", "LINGUAGGIO", "LANGUE", "SPRACHE", "LÍNGUA"},
    // Main page: MANUAL button
    {"MANUAL", "MANUAL", "MANUALE", "MANUEL", "HANDBUCH", "MANUAL"},
    // Main page: EXIT button
    {"EXIT", "SALIR", "CHIUDI", "FERMER", "SCHLIEßEN", "FECHAR"},
    // Main page: PRO button, second line
    {"BASIC SETTINGS", "AJUSTE BÁSICO", "TARARE IL DISPOSITIVO", "CALIBRER L'APPAREIL", "KALIBRIEREN", "CALIBRAR DISPOSITIVO"},
    // Main page: CUSTOM button, second line
    {"ADVANCED SETTINGS", "AJUSTE AVANZADO", "IMPOSTAZIONE AVANZATA", "PARAMÀTRES AVANCÉS", "ERWEITERTE EINSTELLUNG", "AJUSTE AVANÇADO"},
    // Main page: ACTIVATE PRO MODE button
    {"ACTIVATE PRO MODE", "ACTIVAR MODO PRO", "ATTIVARE LA MODALITÀ PRO", "ACTIVER LE MODE PRO", "PRO-MODUS AKTIVIEREN", "ATIVAR O MODO PRO"},
    // Main page: ACTIVATE CUSTOM MODE button
    {"ACTIVATE CUSTOM MODE", "ACTIVAR MODO CUSTOM", "ATTIVARE LA MODALITÀ CUSTOM", "ACTIVER LE MODE CUSTOM", "CUSTOM-MODUS AKTIVIEREN", "ATIVAR O MODO CUSTOM"},
    // PRO page: apply button
    {"APPLY SETTINGS", "APLICAR AJUSTES", "APPLICA LA REGOLAZIONE", "APPLIQUER LES RÉGLAGES", "EINSTELLUNGEN ÜBERNEHMEN", "APLICAR CONFIGURAÇÕES"},
    // PRO page: cancel button
    {"CANCEL", "CANCELAR", "CANCELLARE", "ANNULER", "STORNIEREN", "CANCELAR"},
    // PRO page: save button
    {"SAVE", "GUARDAR", "SALVA", "ENREGISTRER", "SPEICHERN", "SALVE"},
    // PRO page: load button
    {"LOAD", "CARGAR", "CARICO", "CHARGE", "BELASTUNG", "CARGA"},
    // PRO page: applied message
    {"SETTINGS APPLY!", "¡AJUSTES APLICADOS!", "IMPOSTAZIONI APPLICA!", "RÉGLAGES APPLIQUER!", "EINSTELLUNGEN ÜBERNEHMEN!", "CONFIGURAÇÕES APLICA!"},
    // PRO page: saved message
    {"SETTINGS SAVED!", "¡AJUSTES GUARDADOS!", "IMPOSTAZIONI SALVA!", "RÉGLAGES ENREGISTRER!", "EINSTELLUNGEN SPEICHERN!", "CONFIGURAÇÕES SALVE!"},
    // PRO page: loaded message
    {"SETTINGS LOAD!", "¡AJUSTES CARGADOS!", "IMPOSTAZIONI CARICO!", "RÉGLAGES CHARGE!", "EINSTELLUNGEN BELASTUNG!", "CONFIGURAÇÕES CARGA!"},
    // PRO page: brake limit label
    {"MAX BRAKE PRESS", "PRESION MAXIMA", "PRESS FRENO MASSIMA", "PRESS FREIN MAX", "MAX BRAKE PRESS", "PRESS MAX FREIO"},
    // PRO page: upper dead-zone labels (two)
    {"TOP DEAD ZONE", "ZONA MUERTA SUP", "ZONA MORTA SUPERIORE", "ZONE MORTE SUPÉRIEUR", "OBERE TOTE ZONE", "TOP ZONA MORTA"},
    // PRO page: lower dead-zone labels (three)
    {"LOWER DEAD ZONE", "ZONA MUERTA INF", "ZONA MORTA INFERIORE", "ZONE MORTE INFÉRIEURE", "UNTERE TOTE ZONE", "ZONA MORTA INFERIOR"},
    // PRO page: close button
    {"GO BACK", "VOLVER", "CHIUDI", "FERMER", "SCHLIESSEN", "FECHAR"},
    // PRO page: calibrate button
    {"CALIBRATE", "CALIBRAR", "CALIBRARE", "CALIBRER", "KALIBRIEREN", "CALIBRAR"},
    // PRO page: calibration next button
    {"NEXT", "SIGUIENTE", "SUCCESSIVO", "SUIVANT", "NÄCHSTER", "PRÓXIMO"},
    // PRO page: calibration save button
    {"SAVE", "GUARDAR", "SALVA", "ENREGISTRER", "SPEICHERN", "SALVE"},
    // PRO page: clutch title
    {"CLUTCH", "EMBRAGUE", "FRIZIONE", "EMBRAYAGE", "KUPPLUNG", "EMBREAGEM"},
    // PRO page: brake title
    {"BRAKE", "FRENO", "FRENO", "FREIN", "BREMSE", "FREIO"},
    // PRO page: throttle title
    {"THROTTLE", "ACELERADOR", "ACCELERATORE", "ACCÉLÉRATEUR", "BESCHLEUNIGER", "ACELERADOR"},
    // CUSTOM page: apply button
    {"APPLY", "APLICAR", "APPLICARE", "APPLIQUER", "ANWENDEN", "APLIQUE"},
    // CUSTOM page: load button
    {"LOAD", "CARGAR", "CARICO", "CHARGE", "BELASTUNG", "CARGA"},
    // CUSTOM page: save button
    {"SAVE", "GUARDAR", "SALVA", "ENREGISTRER", "SPEICHERN", "SALVE"},
    // CUSTOM page: default-all button
    {"DEFAULT ALL", "DEFECTO", "DI DEFAULT", "DÉFAUT", "STANDARD", "PADRÃO"},
    // CUSTOM page: close button
    {"CLOSE", "CERRAR", "CHIUDI", "FERMER", "SCHLIESSEN", "FECHAR"},
    // CUSTOM page: per-pedal default buttons (three)
    {"DEFAULT", "DEFECTO", "DI DEFAULT", "DÉFAUT", "STANDARD", "PADRÃO"},
    // CUSTOM page: upper dead-zone labels, clutch and throttle
    {"UPPER DEAD ZONE", "ZONA MUERTA SUPERIOR", "ZONA MORTA SUPERIORE", "ZONE MORTE SUPÉRIEUR", "TOP DEAD ZONE", "TOP ZONA MORTA"},
    // CUSTOM page: lower dead-zone labels (three)
    {"LOWER DEAD ZONE", "ZONA MUERTA INFERIOR", "ZONA MORTA INFERIORE", "ZONE MORTE INFÉRIEURE", "UNTERE TOTE ZONE", "ZONA MORTA INFERIOR"},
    // CUSTOM page: brake upper label
    {"MAX BRAKE PRESS", "MÁXIMA PRESIÓN", "ZONA MORTA SUPERIORE", "ZONE MORTE SUPÉRIEUR", "TOP DEAD ZONE", "TOP ZONA MORTA"},
    // CUSTOM page: adjustment-area title
    {"ADJUSTEMENT AREA", "ZONA DE AJUSTE", "ZONA DI AGGIUSTAMENTO", "ZONE DÉAJUSTEMENT", "VERSTELLBEREICH", "ZONA DE AJUSTE"},
    // CUSTOM page: throttle title
    {"THROTTLE", "ACELERADOR", "ACCELERATORE", "ACCÉLÉRATEUR", "BESCHLEUNIGER", "ACELERADOR"},
    // CUSTOM page: brake title
    {"BRAKE", "FRENO", "FRENO", "FREIN", "BREMSE", "FREIO"},
    // CUSTOM page: clutch title
    {"CLUTCH", "EMBRAGUE", "FRIZIONE", "EMBRAYAGE", "KUPPLUNG", "EMBREAGEM"},
    // Key lists: ABS key
    {"ABS", "ABS", "ABS", "ABS", "ABS", "ABS"},
    // Key lists: brake limit "+" and "-"
    {"PRESS +", "PRESIÓN +", "PRESSIONE +", "PRESSION +", "DRUCK +", "PRESSÃO +"},
    {"PRESS -", "PRESIÓN -", "PRESSIONE -", "PRESSION -", "DRUCK -", "PRESSÃO -"},
    // Key lists: brake limiter "+" and "-"
    {"LIMITER +", "LIMITADOR +", "LIMITATORE +", "LIMITEUR +", "BEGRENZER +", "LIMITADOR +"},
    {"LIMITER -", "LIMITADOR -", "LIMITATORE -", "LIMITEUR -", "BEGRENZER -", "LIMITADOR -"},
    // Key lists: AutoBrake key
    {"AUTOBRAKE", "AUTOFRENO", "AUTOFRENO", "AUTOFREIN", "AUTOBREMSE", "AUTOFREIO"},
    // CUSTOM page: curve chart tooltip
    {"Click or Tab: choose a point\nLeft/Right: next point\nUp/Down: 1 % | Page Up/Down: 10 %\nEnter or double-click: type the value (Esc cancels)\nCtrl+Z: undo | Ctrl+Y or Ctrl+Shift+Z: redo",
     "Clic o Tab: elegir un punto\nIzquierda/Derecha: punto siguiente\nArriba/Abajo: 1 % | Re Pág/Av Pág: 10 %\nIntro o doble clic: escribir el valor (Esc cancela)\nCtrl+Z: deshacer | Ctrl+Y o Ctrl+Mayús+Z: rehacer",
     "Clic o Tab: scegli un punto\nSinistra/Destra: punto successivo\nSu/Giù: 1 % | Pag Su/Pag Giù: 10 %\nInvio o doppio clic: digitare il valore (Esc annulla)\nCtrl+Z: annulla | Ctrl+Y o Ctrl+Maiusc+Z: ripeti",
     "Clic ou Tab : choisir un point\nGauche/Droite : point suivant\nHaut/Bas : 1 % | Page préc./suiv. : 10 %\nEntrée ou double-clic : saisir la valeur (Échap annule)\nCtrl+Z : annuler | Ctrl+Y ou Ctrl+Maj+Z : rétablir",
     "Klick oder Tab: Punkt wählen\nLinks/Rechts: nächster Punkt\nAuf/Ab: 1 % | Bild auf/ab: 10 %\nEnter oder Doppelklick: Wert eingeben (Esc bricht ab)\nStrg+Z: rückgängig | Strg+Y oder Strg+Umschalt+Z: wiederholen",
     "Clique ou Tab: escolher um ponto\nEsquerda/Direita: ponto seguinte\nCima/Baixo: 1 % | Page Up/Down: 10 %\nEnter ou duplo clique: digitar o valor (Esc cancela)\nCtrl+Z: desfazer | Ctrl+Y ou Ctrl+Shift+Z: refazer"},
    // CUSTOM page: the preset list by each chart (its prompt, the presets, its tooltip);
    // the wall's text takes the travel as %1
    {"CURVE PRESET", "CURVA PREDEFINIDA", "CURVA PREDEFINITA", "COURBE PRÉDÉFINIE", "KURVENVORLAGE", "CURVA PREDEFINIDA"},
    {"Linear", "Lineal", "Lineare", "Linéaire", "Linear", "Linear"},
    {"Progressive", "Progresiva", "Progressiva", "Progressive", "Progressiv", "Progressiva"},
    {"Aggressive", "Agresiva", "Aggressiva", "Agressive", "Aggressiv", "Agressiva"},
    {"S-curve", "Curva en S", "Curva a S", "Courbe en S", "S-Kurve", "Curva em S"},
    {"Brake wall at %1 %", "Muro de freno al %1 %", "Muro del freno al %1 %", "Mur de freinage à %1 %", "Bremswand bei %1 %", "Muro de travagem a %1 %"},
    {"Choose a preset: it replaces this pedal's curve and is sent at once\nCtrl+Z: undo",
     "Elija una curva predefinida: sustituye la curva de este pedal y se envía al momento\nCtrl+Z: deshacer",
     "Scegli una curva predefinita: sostituisce la curva di questo pedale e viene inviata subito\nCtrl+Z: annulla",
     "Choisissez une courbe prédéfinie : elle remplace la courbe de cette pédale et est envoyée aussitôt\nCtrl+Z : annuler",
     "Vorlage wählen: sie ersetzt die Kurve dieses Pedals und wird sofort gesendet\nStrg+Z: rückgängig",
     "Escolha uma curva predefinida: substitui a curva deste pedal e é enviada de imediato\nCtrl+Z: desfazer"},
    {"Type the value (only those between the neighbouring points)\nEnter: send it | Esc: cancel",
     "Escriba el valor (solo los que quedan entre los puntos vecinos)\nIntro: enviarlo | Esc: cancelar",
     "Digitare il valore (solo quelli tra i punti vicini)\nInvio: inviarlo | Esc: annullare",
     "Saisissez la valeur (seules celles entre les points voisins)\nEntrée : l'envoyer | Échap : annuler",
     "Wert eingeben (nur Werte zwischen den Nachbarpunkten)\nEnter: senden | Esc: abbrechen",
     "Digite o valor (apenas os que ficam entre os pontos vizinhos)\nEnter: enviá-lo | Esc: cancelar"},
    {"Not stored: the pedals use this curve but have not stored it; it is lost when they lose power.\nAPPLY stores it and clears this mark.",
     "Sin guardar en los pedales: los pedales usan esta curva pero no la han guardado; se pierde al quedarse sin corriente.\nAPPLY la guarda y quita esta marca.",
     "Non memorizzata: i pedali usano questa curva ma non l'hanno memorizzata; si perde quando restano senza corrente.\nAPPLY la memorizza e toglie questo segno.",
     "Non enregistrée : les pédales utilisent cette courbe sans l'avoir enregistrée ; elle est perdue à la coupure de courant.\nAPPLY l'enregistre et efface cette marque.",
     "Nicht gespeichert: Die Pedale nutzen diese Kurve, haben sie aber nicht gespeichert; ohne Strom geht sie verloren.\nAPPLY speichert sie und entfernt diese Markierung.",
     "Não guardada: os pedais usam esta curva mas não a guardaram; perde-se quando ficam sem energia.\nAPPLY guarda-a e retira esta marca."},
    {"Not saved: this curve differs from the last profile loaded or saved.\nSAVE or LOAD clears this mark.",
     "Sin guardar en un perfil: esta curva difiere del último perfil cargado o guardado.\nSAVE o LOAD quita esta marca.",
     "Non salvata: questa curva è diversa dall'ultimo profilo caricato o salvato.\nSAVE o LOAD toglie questo segno.",
     "Non sauvegardée : cette courbe diffère du dernier profil chargé ou sauvegardé.\nSAVE ou LOAD efface cette marque.",
     "Nicht im Profil: Diese Kurve weicht vom zuletzt geladenen oder gespeicherten Profil ab.\nSAVE oder LOAD entfernt diese Markierung.",
     "Não gravada: esta curva difere do último perfil carregado ou gravado.\nSAVE ou LOAD retira esta marca."},
    {"GAMES", "JUEGOS", "GIOCHI", "JEUX", "SPIELE", "JOGOS"},
    {"Profiles per game", "Perfiles por juego", "Profili per gioco", "Profils par jeu", "Profile pro Spiel",
     "Perfis por jogo"},
    {"Game", "Juego", "Gioco", "Jeu", "Spiel", "Jogo"},
    {"Profile file", "Archivo de perfil", "File del profilo", "Fichier de profil", "Profildatei",
     "Ficheiro de perfil"},
    {"Program (pick a running one or type its name):", "Programa (elija uno en marcha o escriba su nombre):",
     "Programma (sceglierne uno in esecuzione o scriverne il nome):",
     "Programme (choisissez-en un en cours ou tapez son nom) :",
     "Programm (ein laufendes wählen oder den Namen eingeben):",
     "Programa (escolha um em execução ou escreva o nome):"},
    {"ADD...", "AÑADIR...", "AGGIUNGI...", "AJOUTER...", "HINZUFÜGEN...", "ADICIONAR..."},
    {"REMOVE", "QUITAR", "RIMUOVI", "RETIRER", "ENTFERNEN", "REMOVER"},
    {"CLOSE", "CERRAR", "CHIUDI", "FERMER", "SCHLIESSEN", "FECHAR"},
    {"This name cannot be used: it is empty or holds = ; # [ ] or a line break.",
     "Este nombre no se puede usar: está vacío o contiene = ; # [ ] o un salto de línea.",
     "Questo nome non si può usare: è vuoto o contiene = ; # [ ] o un a capo.",
     "Ce nom n'est pas utilisable : il est vide ou contient = ; # [ ] ou un saut de ligne.",
     "Dieser Name ist nicht möglich: er ist leer oder enthält = ; # [ ] oder einen Zeilenumbruch.",
     "Este nome não pode ser usado: está vazio ou contém = ; # [ ] ou uma quebra de linha."},
    // Main page: the tray switch
    {"Keep running in the tray", "Seguir en la bandeja", "Resta nell'area di notifica", "Rester dans la zone de notification", "Im Infobereich weiterlaufen", "Manter na área de notificação"},
    // Tray menu: the profile in force (%1 the name), the recent profiles, the monitor,
    // the window, exit
    {"Profile: %1", "Perfil: %1", "Profilo: %1", "Profil : %1", "Profil: %1", "Perfil: %1"},
    {"Recent profiles", "Perfiles recientes", "Profili recenti", "Profils récents", "Letzte Profile", "Perfis recentes"},
    {"Monitor", "Monitor", "Monitor", "Moniteur", "Monitor", "Monitor"},
    {"Show window", "Mostrar ventana", "Mostra finestra", "Afficher la fenêtre", "Fenster anzeigen", "Mostrar janela"},
    {"Exit", "Salir", "Esci", "Quitter", "Beenden", "Sair"},
    // Tray: the first close that leaves the program running
    {"TKB-Tunedeck keeps running here. Choose Exit in this icon's menu to end it.",
     "TKB-Tunedeck sigue en marcha aquí. Elija Salir en el menú de este icono para cerrarlo.",
     "TKB-Tunedeck resta in esecuzione qui. Scegli Esci nel menu di questa icona per chiuderlo.",
     "TKB-Tunedeck continue de fonctionner ici. Choisissez Quitter dans le menu de cette icône pour le fermer.",
     "TKB-Tunedeck läuft hier weiter. Zum Beenden im Menü dieses Symbols Beenden wählen.",
     "O TKB-Tunedeck continua a funcionar aqui. Escolha Sair no menu deste ícone para o fechar."},
    // PRO page: SAVE could not write its file
    {"SETTINGS NOT SAVED!", "¡AJUSTES NO GUARDADOS!", "IMPOSTAZIONI NON SALVATE!", "RÉGLAGES NON ENREGISTRÉS !",
     "EINSTELLUNGEN NICHT GESPEICHERT!", "CONFIGURAÇÕES NÃO GUARDADAS!"},
    // The brake stop's row, the auto-brake captions, the bars' captions, the brake stop's mark
    {"BRAKE LIMITER", "LIMITADOR DE FRENO", "LIMITATORE FRENO", "LIMITEUR DE FREIN", "BREMSBEGRENZER", "LIMITADOR DO FREIO"},
    {"Autobrake", "Autofreno", "Autofreno", "Autofrein", "Autobremse", "Autofreio"},
    {"IN", "ENT", "ING", "ENT", "EIN", "ENT"},
    {"OUT", "SAL", "USC", "SORT", "AUS", "SAÍ"},
    {"STOP", "TOPE", "FERMO", "BUTÉE", "STOPP", "BATENTE"},
    // The peaks columns' heading
    {"PEAKS", "PICOS", "PICCHI", "PICS", "SPITZE", "PICOS"},
    // EXIT while a page is open (%1 that page's close button), its answers
    {"End TKB-Tunedeck?\nTo leave only this page, press %1.",
     "¿Terminar TKB-Tunedeck?\nPara dejar solo esta página, pulse %1.",
     "Terminare TKB-Tunedeck?\nPer lasciare solo questa pagina, premere %1.",
     "Quitter TKB-Tunedeck ?\nPour quitter seulement cette page, appuyez sur %1.",
     "TKB-Tunedeck beenden?\nUm nur diese Seite zu verlassen, drücken Sie %1.",
     "Terminar o TKB-Tunedeck?\nPara sair apenas desta página, pressione %1."},
    {"QUIT", "TERMINAR", "TERMINA", "QUITTER", "BEENDEN", "TERMINAR"},
    {"STAY", "SEGUIR AQUÍ", "RESTA", "RESTER", "BLEIBEN", "FICAR"},
    // The games dialog: what it does
    {"When a game listed here starts, its profile is loaded; when it ends, the profile used before comes back.",
     "Cuando se inicia un juego de esta lista se carga su perfil; cuando termina, vuelve el perfil de antes.",
     "Quando si avvia un gioco di questo elenco viene caricato il suo profilo; quando termina, torna il profilo di prima.",
     "Quand un jeu de cette liste démarre, son profil est chargé ; quand il se termine, le profil d'avant revient.",
     "Startet ein Spiel dieser Liste, wird sein Profil geladen; endet es, kommt das vorherige Profil zurück.",
     "Quando um jogo desta lista inicia, o seu perfil é carregado; quando termina, volta o perfil anterior."},
};

constexpr int kWizardTextCount = static_cast<int>(WizardText::Count);
// Per language: steps 0 to 4, the saved text and the note ("\n" is a line break).
constexpr std::array<const char*, kWizardTextCount> kWizardTexts[kLanguageCount] = {
    // English
    {"DO NOT PRESS ANY PEDAL AND PRESS \nNEXT.", "PRESS THE ACCELERATOR TO THE \nMAXIMUM, HOLD IT AND PRESS NEXT.", "PRESS THE BRAKE WHERE YOU WOULD \nLIKE YOUR MAXIMUM BRAKE TO BE, \nHOLD IT AND PRESS NEXT.", "PRESS THE CLUTCH TO MAXIMUM, \nHOLD IT, AND PRESS NEXT.", "#FF0000 CALIBRATED PEDALS, #CHECK THE \nCALIBRATION, NOW YOU CAN SAVE OR \nCALIBRATE AGAIN.", "SAVED CONFIGURATION.", "NOTE: YOU ALREADY HAVE THE PRO \nMODE ACTIVATED. #FF0000 NOW GO TO YOUR \n#FF0000 SIMULATION GAMES AND CALIBRATE \n#FF0000 THEM."},
    // Spanish
    {"NO PRESIONE NINGÚN PEDAL Y PULSE \nSIGUIENTE", "PRESIONE EL ACELERADOR AL MÁXIMO, \nMANTENGALO Y PULSE SIGUIENTE.", "PRESIONE EL FRENO DONDE LE \nGUSTARIA QUE FUESE SU FRENADA \nMÁXIMA, MANTENGALO Y PULSE \nSIGUIENTE.", "PRESIONE EL EMBRAGUE AL MÁXIMO, \nMANTENGALO Y PULSE SIGUIENTE.", "#FF0000 PEDALES CALIBRADOS, #COMPRUEBE LA \nCALIBRACIÓN, AHORA PUEDE GUARDAR \nO CALIBRAR DE NUEVO.", "CONFIGURACIÓN GUARDADA.", "NOTA: YA TIENE EL MODO SPORT \nACTIVADO. #FF0000 AHORA VAYA A SUS JUEGOS \n#FF0000 DE SIMULACIÓN Y CALIBRELOS."},
    // Italian
    {"NON PREMERE ALCUN PEDALE E \nPREMERE SUCCESSIVO.", "PREMERE L'ACCELERATORE AL MASSIMO, \nTENERLO E PREMERE SUCCESSIVO.", "PREMERE IL FRENO DOVE VUOI ESSERE \nIL TUO FRENO MASSIMO, TENERLO E \nPREMI SUCCESSIVO.", "PREMERE LA FRIZIONE AL MASSIMO, \nTENERLA PRESENTE E PREMERE \nSUCCESSIVA.", "#FF0000 PEDALI CALIBRATI, #CONTROLLA LA \nTARATURA, ORA PUOI SALVARE O \nCALIBRARE DI NUOVO.", "CONFIGURAZIONE SALVATA.", "NOTA: SEI GIÀ ATTIVATO LA MODALITÀ \nSPORT. #FF0000 ORA VAI AI TUOI GIOCHI DI \n#FF0000 SIMULAZIONE E CALIBRACI."},
    // French
    {"N'APPUYEZ SUR AUCUNE PÉDALE ET \nAPPUYEZ SUR SUIVANT.", "APPUYEZ SUR L'ACCÉLÉRATEUR AU \nMAXIMUM, MAINTENEZ-LE ET APPUYEZ \nSUR SUIVANT.", "APPUYEZ SUR LE FREIN OERE VOUS \nAIMERIEZ QUE VOTRE FREIN MAXIMUM \nSOIT, MAINTENEZ - LE ET APPUYEZ \nSUR SUIVANT", "APPUYEZ SUR L'EMBRAYAGE POUR \nMAXIMUM, MAINTENEZ-LE ET APPUYEZ \nSUR SUIVANT.", "#FF0000 PÉDALES ÉTALONNÉES, #VÉRIFIEZ \nL'ÉTALONNAGE, MAINTENANT, VOUS \nPOUVEZ ENREGISTRER OU CALIBRER \nÀ NOUVEAU.", "CONFIGURATION ENREGISTRÉE.", "REMARQUE: VOUS AVEZ DÉJÀ ACTIVÉ \nLE MODE SPORT. #FF0000 PASSEZ À VOS JEUX \n#FF0000 DE SIMULATION ET CALIBREZ - LES."},
    // German
    {"DRÜCKEN SIE KEINE PEDALE UND DRÜCKEN \nSIE WEITER.", "DRÜCKEN SIE DEN BESCHLEUNIGER \nAUF DAS MAXIMALE, HALTEN SIE ES \nUND DRÜCKEN SIE WEITER.", "DRÜCKEN SIE DIE BREMSE, WO SIE \nIHRE MAXIMALE BREMSE MÖCHTEN, \nHALTEN SIE SIE UND DRÜCKEN SIE \nWEITER.", "DRÜCKEN SIE DIE KUPPLUNG AUF \nMAXIMAL, HALTEN SIE SIE UND DRÜCKEN \nSIE WEITER.", "#FF0000 KALIBRIERTE PEDALE, #PRÜFEN SIE DIE \nKALIBRIERUNG, JETZT KÖNNEN SIE \nWIEDER SPEICHERN ODER KALIBRIEREN.", "GESPEICHERTE KONFIGURATION.", "HINWEIS: SIE HABEN BEREITS DEN SPORT - \nMODUS AKTIVIERT. #FF0000 GEHEN SIE JETZT \n#FF0000 ZU IHREN SIMULATIONSSPIELEN UND \n#FF0000 KALIBRIEREN SIE SIE."},
    // Portuguese
    {"NÃO CARREGAR EM NENHUM PEDAL E \nCALIBRAR A PRENSA.", "PRESSIONE O ACELERADOR AO MÁXIMO, \nMANTENHA-O E PRESSIONE PRÓXIMO.", "PRESSIONE O FREIO ONDE VOCÊ \nGOSTARIA QUE SEU FREIO MÁXIMO \nESTEJA, SEGURE - O E PRESSIONE EM \nPRÓXIMO.", "PRESSIONE A EMBREAGEM AO MÁXIMO, \nMANTENHA-A E PRESSIONE EM PRÓXIMO.", "#FF0000 PEDAIS CALIBRADOS, #VERIFIQUE A \nCALIBRAÇÃO, AGORA VOCÊ PODE \nSALVAR OU CALIBRAR NOVAMENTE.", "CONFIGURAÇÃO SALVADA.", "NOTA: VOCÊ JÁ TEM O MODO SPORT ATIVO. \n#FF0000 AGORA VÁ PARA SEUS JOGOS DE \n#FF0000 SIMULAÇÃO E CALIBRE-OS."},
};

}  // namespace

const char* labelText(LabelRole role, int language) {
  const int r = static_cast<int>(role);
  if (r < 0 || r >= kLabelRoleCount || language < 0 || language >= kLanguageCount) return "";
  return kLabelSets[r][language];
}

const char* wizardText(WizardText text, int language) {
  const int t = static_cast<int>(text);
  if (t < 0 || t >= kWizardTextCount || language < 0 || language >= kLanguageCount) return "";
  return kWizardTexts[language][t];
}

namespace {
constexpr int kFirmwareTextCount = static_cast<int>(FirmwareText::Count);

constexpr std::array<const char*, kFirmwareTextCount> kFirmwareTexts[kLanguageCount] = {
    {"Restarting the pedals for the firmware update...",
     "Waiting for the pedals' bootloader...",
     "Writing the new firmware: %1 %",
     "Verifying the new firmware: %1 %",
     "Waiting for the pedals to come back...",
     "Updating the pedal firmware - do not unplug the pedals",
     "The firmware update could not start avrdude (is it installed?). The pedals keep their old firmware.",
     "avrdude could not write the new firmware. The pedals keep their old firmware. Details: %1",
     "The pedals still report their old firmware after the update. Details: %1",
     "The pedals did not come back after the firmware update. Unplug them and plug them in again. Details: %1",
     "The firmware update could not find the pedals' bootloader port; nothing was written.",
     "The pedal settings could not be read, so the firmware update was not started. The pedals keep their old firmware.",
     "The firmware update had changed some settings; they were set back: %1"},
    {"Reiniciando los pedales para actualizar el firmware...",
     "Esperando al cargador de arranque de los pedales...",
     "Escribiendo el nuevo firmware: %1 %",
     "Verificando el nuevo firmware: %1 %",
     "Esperando a que vuelvan los pedales...",
     "Actualizando el firmware de los pedales - no desconecte los pedales",
     "La actualización del firmware no pudo iniciar avrdude (¿está instalado?). Los pedales conservan su firmware anterior.",
     "avrdude no pudo escribir el nuevo firmware. Los pedales conservan su firmware anterior. Detalles: %1",
     "Los pedales siguen indicando su firmware anterior tras la actualización. Detalles: %1",
     "Los pedales no volvieron tras la actualización del firmware. Desconéctelos y vuelva a conectarlos. Detalles: %1",
     "La actualización no encontró el puerto del cargador de arranque de los pedales; no se escribió nada.",
     "No se pudieron leer los ajustes de los pedales, así que no se inició la actualización del firmware. Los pedales conservan su firmware anterior.",
     "La actualización del firmware había cambiado algunos ajustes; se han restablecido: %1"},
    {"Riavvio dei pedali per l'aggiornamento del firmware...",
     "In attesa del bootloader dei pedali...",
     "Scrittura del nuovo firmware: %1 %",
     "Verifica del nuovo firmware: %1 %",
     "In attesa che i pedali tornino disponibili...",
     "Aggiornamento del firmware dei pedali - non scollegare i pedali",
     "L'aggiornamento del firmware non ha potuto avviare avrdude (è installato?). I pedali mantengono il firmware precedente.",
     "avrdude non ha potuto scrivere il nuovo firmware. I pedali mantengono il firmware precedente. Dettagli: %1",
     "Dopo l'aggiornamento i pedali indicano ancora il firmware precedente. Dettagli: %1",
     "I pedali non sono tornati disponibili dopo l'aggiornamento del firmware. Scollegali e ricollegali. Dettagli: %1",
     "L'aggiornamento non ha trovato la porta del bootloader dei pedali; non è stato scritto nulla.",
     "Non è stato possibile leggere le impostazioni dei pedali, quindi l'aggiornamento del firmware non è stato avviato. I pedali mantengono il firmware precedente.",
     "L'aggiornamento del firmware aveva modificato alcune impostazioni; sono state ripristinate: %1"},
    {"Redémarrage du pédalier pour la mise à jour du firmware...",
     "Attente du chargeur d'amorçage du pédalier...",
     "Écriture du nouveau firmware : %1 %",
     "Vérification du nouveau firmware : %1 %",
     "Attente du retour du pédalier...",
     "Mise à jour du firmware du pédalier - ne débranchez pas le pédalier",
     "La mise à jour du firmware n'a pas pu lancer avrdude (est-il installé ?). Le pédalier garde son ancien firmware.",
     "avrdude n'a pas pu écrire le nouveau firmware. Le pédalier garde son ancien firmware. Détails : %1",
     "Après la mise à jour, le pédalier indique toujours son ancien firmware. Détails : %1",
     "Le pédalier n'est pas revenu après la mise à jour du firmware. Débranchez-le puis rebranchez-le. Détails : %1",
     "La mise à jour n'a pas trouvé le port du chargeur d'amorçage du pédalier ; rien n'a été écrit.",
     "Les réglages du pédalier n'ont pas pu être lus : la mise à jour du firmware n'a pas été lancée. Le pédalier garde son ancien firmware.",
     "La mise à jour du firmware avait modifié certains réglages ; ils ont été rétablis : %1"},
    {"Pedale werden für das Firmware-Update neu gestartet...",
     "Warten auf den Bootloader der Pedale...",
     "Neue Firmware wird geschrieben: %1 %",
     "Neue Firmware wird geprüft: %1 %",
     "Warten, bis die Pedale wieder da sind...",
     "Die Pedal-Firmware wird aktualisiert - Pedale nicht abziehen",
     "Das Firmware-Update konnte avrdude nicht starten (ist es installiert?). Die Pedale behalten ihre alte Firmware.",
     "avrdude konnte die neue Firmware nicht schreiben. Die Pedale behalten ihre alte Firmware. Details: %1",
     "Die Pedale melden nach dem Update noch ihre alte Firmware. Details: %1",
     "Die Pedale sind nach dem Firmware-Update nicht zurückgekehrt. Ziehen Sie sie ab und stecken Sie sie wieder ein. Details: %1",
     "Das Update hat den Bootloader-Anschluss der Pedale nicht gefunden; es wurde nichts geschrieben.",
     "Die Pedaleinstellungen konnten nicht gelesen werden, daher wurde das Firmware-Update nicht gestartet. Die Pedale behalten ihre alte Firmware.",
     "Das Firmware-Update hatte einige Einstellungen geändert; sie wurden wiederhergestellt: %1"},
    {"A reiniciar os pedais para atualizar o firmware...",
     "A aguardar o carregador de arranque dos pedais...",
     "A escrever o novo firmware: %1 %",
     "A verificar o novo firmware: %1 %",
     "A aguardar que os pedais voltem...",
     "A atualizar o firmware dos pedais - não desligue os pedais",
     "A atualização do firmware não conseguiu iniciar o avrdude (está instalado?). Os pedais mantêm o firmware anterior.",
     "O avrdude não conseguiu escrever o novo firmware. Os pedais mantêm o firmware anterior. Detalhes: %1",
     "Após a atualização, os pedais continuam a indicar o firmware anterior. Detalhes: %1",
     "Os pedais não voltaram após a atualização do firmware. Desligue-os e volte a ligá-los. Detalhes: %1",
     "A atualização não encontrou a porta do carregador de arranque dos pedais; nada foi escrito.",
     "Não foi possível ler as definições dos pedais, por isso a atualização do firmware não foi iniciada. Os pedais mantêm o firmware anterior.",
     "A atualização do firmware tinha alterado algumas definições; foram repostas: %1"},
};
}  // namespace

const char* firmwareText(FirmwareText text, int language) {
  const int t = static_cast<int>(text);
  if (t < 0 || t >= kFirmwareTextCount || language < 0 || language >= kLanguageCount) return "";
  return kFirmwareTexts[language][t];
}

namespace {
constexpr int kLinkTextCount = static_cast<int>(LinkText::Count);

constexpr std::array<const char*, kLinkTextCount> kLinkTexts[kLanguageCount] = {
    {"Reading the pedal set...",
     "The pedal set does not answer. Check the cable, then press RETRY.",
     "Pedal set disconnected - waiting for it...",
     "RETRY",
     "Waiting for the pedal set..."},
    {"Leyendo los pedales...",
     "Los pedales no responden. Compruebe el cable y pulse REINTENTAR.",
     "Pedales desconectados - esperando a que vuelvan...",
     "REINTENTAR",
     "Esperando a los pedales..."},
    {"Lettura dei pedali...",
     "I pedali non rispondono. Controlla il cavo, poi premi RIPROVA.",
     "Pedali scollegati - in attesa che tornino...",
     "RIPROVA",
     "In attesa dei pedali..."},
    {"Lecture du pédalier...",
     "Le pédalier ne répond pas. Vérifiez le câble, puis appuyez sur RÉESSAYER.",
     "Pédalier débranché - en attente de son retour...",
     "RÉESSAYER",
     "En attente du pédalier..."},
    {"Pedale werden gelesen...",
     "Die Pedale antworten nicht. Prüfen Sie das Kabel und drücken Sie WIEDERHOLEN.",
     "Pedale getrennt - warten, bis sie wieder da sind...",
     "WIEDERHOLEN",
     "Warte auf die Pedale..."},
    {"A ler os pedais...",
     "Os pedais não respondem. Verifique o cabo e prima REPETIR.",
     "Pedais desligados - a aguardar que voltem...",
     "REPETIR",
     "A aguardar os pedais..."},
};
}  // namespace

namespace {
constexpr std::array<const char*, kProfileRefusalReasons> kProfileRefusalTexts[kLanguageCount] = {
    {"Profile not loaded: %1 is not a regular file.",
     "Profile not loaded: %1 cannot be read.",
     "Profile not loaded: %1 is damaged. Nothing was sent to the pedals.",
     "Profile not loaded: %2 is outside %3..%4. Nothing was sent to the pedals.",
     "Profile not loaded: the curve %2 is not one the editor can make (0 first, 100 last, rising). Nothing was sent to the pedals.",
     "Profile not loaded: %1 has no %5. Nothing was sent to the pedals.",
     "Profile not loaded: %2 is not a number. Nothing was sent to the pedals."},
    {"Perfil no cargado: %1 no es un archivo normal.",
     "Perfil no cargado: no se puede leer %1.",
     "Perfil no cargado: %1 está dañado. No se ha enviado nada a los pedales.",
     "Perfil no cargado: %2 está fuera de %3..%4. No se ha enviado nada a los pedales.",
     "Perfil no cargado: la curva %2 no es válida (0 al principio, 100 al final, creciente). No se ha enviado nada a los pedales.",
     "Perfil no cargado: a %1 le falta %5. No se ha enviado nada a los pedales.",
     "Perfil no cargado: %2 no es un número. No se ha enviado nada a los pedales."},
    {"Profilo non caricato: %1 non è un file normale.",
     "Profilo non caricato: impossibile leggere %1.",
     "Profilo non caricato: %1 è danneggiato. Non è stato inviato nulla ai pedali.",
     "Profilo non caricato: %2 è fuori da %3..%4. Non è stato inviato nulla ai pedali.",
     "Profilo non caricato: la curva %2 non è valida (0 all'inizio, 100 alla fine, crescente). Non è stato inviato nulla ai pedali.",
     "Profilo non caricato: in %1 manca %5. Non è stato inviato nulla ai pedali.",
     "Profilo non caricato: %2 non è un numero. Non è stato inviato nulla ai pedali."},
    {"Profil non chargé : %1 n'est pas un fichier ordinaire.",
     "Profil non chargé : impossible de lire %1.",
     "Profil non chargé : %1 est endommagé. Rien n'a été envoyé au pédalier.",
     "Profil non chargé : %2 est hors de %3..%4. Rien n'a été envoyé au pédalier.",
     "Profil non chargé : la courbe %2 n'est pas valide (0 au début, 100 à la fin, croissante). Rien n'a été envoyé au pédalier.",
     "Profil non chargé : %5 manque dans %1. Rien n'a été envoyé au pédalier.",
     "Profil non chargé : %2 n'est pas un nombre. Rien n'a été envoyé au pédalier."},
    {"Profil nicht geladen: %1 ist keine normale Datei.",
     "Profil nicht geladen: %1 kann nicht gelesen werden.",
     "Profil nicht geladen: %1 ist beschädigt. An die Pedale wurde nichts gesendet.",
     "Profil nicht geladen: %2 liegt außerhalb von %3..%4. An die Pedale wurde nichts gesendet.",
     "Profil nicht geladen: die Kurve %2 ist ungültig (0 am Anfang, 100 am Ende, steigend). An die Pedale wurde nichts gesendet.",
     "Profil nicht geladen: in %1 fehlt %5. An die Pedale wurde nichts gesendet.",
     "Profil nicht geladen: %2 ist keine Zahl. An die Pedale wurde nichts gesendet."},
    {"Perfil não carregado: %1 não é um ficheiro normal.",
     "Perfil não carregado: não é possível ler %1.",
     "Perfil não carregado: %1 está danificado. Nada foi enviado aos pedais.",
     "Perfil não carregado: %2 está fora de %3..%4. Nada foi enviado aos pedais.",
     "Perfil não carregado: a curva %2 não é válida (0 no início, 100 no fim, crescente). Nada foi enviado aos pedais.",
     "Perfil não carregado: falta %5 em %1. Nada foi enviado aos pedais.",
     "Perfil não carregado: %2 não é um número. Nada foi enviado aos pedais."},
};
}  // namespace

const char* profileRefusalText(int reason, int language) {
  if (reason < 0 || reason >= kProfileRefusalReasons || language < 0 || language >= kLanguageCount) return "";
  return kProfileRefusalTexts[language][reason];
}

namespace {
constexpr std::array<const char*, kGameNoticeKinds> kGameNoticeTexts[kLanguageCount] = {
    {"Unsaved pedal edits were saved as %2 before switching profiles for %1.",
     "Unsaved pedal edits could not be saved (%3): the profile for %1 was not switched.",
     "%1 started: profile %2 loaded.",
     "%1 started: %3",
     "%1 ended: the profile in use before it is back.",
     "%1 ended: the profile in use before it could not be put back.",
     "%1 started: the settings in use are not all known, so its profile was not loaded."},
    {"Los cambios sin guardar de los pedales se han guardado como %2 antes de cambiar de perfil para %1.",
     "Los cambios sin guardar no se han podido guardar (%3): no se ha cambiado el perfil para %1.",
     "%1 iniciado: perfil %2 cargado.",
     "%1 iniciado: %3",
     "%1 terminado: vuelve el perfil que estaba en uso antes.",
     "%1 terminado: no se ha podido volver al perfil que estaba en uso antes.",
     "%1 iniciado: no se conocen todos los ajustes en uso, así que no se ha cargado su perfil."},
    {"Le modifiche non salvate dei pedali sono state salvate come %2 prima di cambiare profilo per %1.",
     "Le modifiche non salvate non si sono potute salvare (%3): il profilo per %1 non è stato cambiato.",
     "%1 avviato: profilo %2 caricato.",
     "%1 avviato: %3",
     "%1 terminato: torna il profilo in uso prima.",
     "%1 terminato: non è stato possibile tornare al profilo in uso prima.",
     "%1 avviato: non tutte le impostazioni in uso sono note, quindi il suo profilo non è stato caricato."},
    {"Les modifications non sauvegardées des pédales ont été sauvegardées sous %2 avant de changer de profil pour %1.",
     "Les modifications non sauvegardées n'ont pas pu l'être (%3) : le profil de %1 n'a pas été changé.",
     "%1 lancé : profil %2 chargé.",
     "%1 lancé : %3",
     "%1 terminé : le profil utilisé avant est de retour.",
     "%1 terminé : le profil utilisé avant n'a pas pu être remis.",
     "%1 lancé : les réglages en cours ne sont pas tous connus, son profil n'a donc pas été chargé."},
    {"Ungespeicherte Pedaländerungen wurden als %2 gespeichert, bevor das Profil für %1 gewechselt wurde.",
     "Ungespeicherte Änderungen konnten nicht gespeichert werden (%3): das Profil für %1 wurde nicht gewechselt.",
     "%1 gestartet: Profil %2 geladen.",
     "%1 gestartet: %3",
     "%1 beendet: das vorher benutzte Profil ist zurück.",
     "%1 beendet: das vorher benutzte Profil konnte nicht zurückgesetzt werden.",
     "%1 gestartet: nicht alle aktuellen Einstellungen sind bekannt, daher wurde sein Profil nicht geladen."},
    {"As alterações não gravadas dos pedais foram gravadas como %2 antes de mudar de perfil para %1.",
     "As alterações não gravadas não puderam ser gravadas (%3): o perfil de %1 não foi mudado.",
     "%1 iniciado: perfil %2 carregado.",
     "%1 iniciado: %3",
     "%1 terminado: o perfil usado antes está de volta.",
     "%1 terminado: não foi possível repor o perfil usado antes.",
     "%1 iniciado: nem todas as definições em uso são conhecidas, por isso o seu perfil não foi carregado."},
};
}  // namespace

const char* gameNoticeText(int kind, int language) {
  if (kind < 0 || kind >= kGameNoticeKinds || language < 0 || language >= kLanguageCount) return "";
  return kGameNoticeTexts[language][kind];
}

const char* linkText(LinkText text, int language) {
  const int t = static_cast<int>(text);
  if (t < 0 || t >= kLinkTextCount || language < 0 || language >= kLanguageCount) return "";
  return kLinkTexts[language][t];
}

std::optional<int> languageIndex(const std::string& name) {
  for (int i = 0; i < kLanguageCount; ++i)
    if (name == kNames[i]) return i;
  return std::nullopt;
}

std::optional<std::string> manualFile(const std::string& languageName) {
  if (auto i = languageIndex(languageName)) return std::string(kManuals[*i]);
  return std::nullopt;
}

void LabelBoard::add(LabelRole role, Setter setter) {
  labels_.emplace_back(role, std::move(setter));
}

void LabelBoard::apply(int language) const {
  for (const auto& [role, setter] : labels_) setter(labelText(role, language));
}

int LabelBoard::count(LabelRole role) const {
  int n = 0;
  for (const auto& entry : labels_) n += entry.first == role ? 1 : 0;
  return n;
}

}  // namespace tkb::ui
