<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pl_PL" sourcelanguage="en">
<context>
    <name>Updater_Changelog_MainWindow</name>
    <message>
        <source>Update</source>
        <translation>Aktualizuj</translation>
    </message>
    <message>
        <source>Vemo IM update</source>
        <translation>Aktualizacja komunikatora Vemo</translation>
    </message>
    <message>
        <source>Vemo instant messenger update is available. Do you wish to download it now?</source>
        <translation>Są dostępne aktualizacje dla komunikatora Vemo. Czy chcesz pobrać je teraz?</translation>
    </message>
    <message>
        <source>Show changelog</source>
        <translation>Pokaż listę zmian</translation>
    </message>
    <message>
        <source>Download now</source>
        <translation>Pobierz teraz</translation>
    </message>
    <message>
        <source>Download later</source>
        <translation>Pobierz później</translation>
    </message>
</context>
<context>
    <name>Updater_Download_MainWindow</name>
    <message>
        <source>Update</source>
        <translation>Aktualizuj</translation>
    </message>
    <message>
        <source>Vemo IM update</source>
        <translation>Aktualizacja komunikatora Vemo</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Pobieranie...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Anuluj</translation>
    </message>
</context>
<context>
    <name>Updater_Install_MainWindow</name>
    <message>
        <source>Update</source>
        <translation>Aktualizuj</translation>
    </message>
    <message>
        <source>Vemo IM update</source>
        <translation>Aktualizacja komunikatora Vemo</translation>
    </message>
    <message>
        <source>Installing...</source>
        <translation>Instalacja...</translation>
    </message>
</context>
<context>
    <name>Updater_Summary_MainWindow</name>
    <message>
        <source>Update</source>
        <translation>Aktualizuj</translation>
    </message>
    <message>
        <source>Installation complete</source>
        <translation>Aktualizacje zainstalowane pomyślnie</translation>
    </message>
    <message>
        <source>To complete the update process please restart Vemo instant messenger.</source>
        <translation>By zakończyć proces instalacji należy uruchomić ponownie komunikator.</translation>
    </message>
    <message>
        <source>View details</source>
        <translation>Pokaż szczegóły</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Zamknij</translation>
    </message>
</context>
<context>
    <name>translation</name>
    <message>
        <source>Update</source>
        <translation>Aktualizuj</translation>
    </message>
    <message>
        <source>Update</source>
        <comment>nc</comment>
        <translation>Aktualizuj</translation>
    </message>
    <message>
        <source>Update</source>
        <comment>program update</comment>
        <translation>Aktualizuj</translation>
    </message>
    <message>
        <source>Check updates</source>
        <translation>Sprawdź aktualizacje</translation>
    </message>
    <message>
        <source>No updates available.</source>
        <translation>Brak nowych aktualizacji.</translation>
    </message>
    <message>
        <source>Cannot run update!</source>
        <translation>Nie można przeprowadzić aktualizacji!</translation>
    </message>
    <message>
        <source>Couldn't connect to update server. Check your internet connection.</source>
        <translation>Nie można nawiązać połączenie z serwerem aktualizacji. Sprawdź swoje połączenie internetowe.</translation>
    </message>
    <message>
        <source>An error occured while comunicating update server. Check your internet connection.</source>
        <translation>Wystąpił błąd podczas komunikacji z serwerem aktualizacji. Sprawdź swoje połączenie internetowe.</translation>
    </message>
    <message>
        <source>Unable to open update archive</source>
        <translation>Nie udało się zaktualizować archiwum</translation>
    </message>
    <message>
        <source>Installing package %1:</source>
        <translation>Zainstalowano pakiet %1:</translation>
    </message>
    <message>
        <source>Failed installing package </source>
        <translation>Błąd podczas instalowania paczki </translation>
    </message>
    <message>
        <source>Rollback update</source>
        <translation>Cofanie akutalizacji</translation>
    </message>
    <message>
        <source>An error occured while rolling back update progress. Software may not work properly. Try reinstalling whole application</source>
        <translation>Wystąpił bład podczas cofania procesu aktualizacji. Oprogramowanie może nie działać poprawnie. Zalecamy ręczną instalację najnowszej wersji komunikatora Vemo ze strony https://www.vemo.example/</translation>
    </message>
    <message>
        <source>Show changelog</source>
        <translation>Pokaż listę zmian</translation>
    </message>
    <message>
        <source>Hide changelog</source>
        <translation>Ukryj listę zmian</translation>
    </message>
    <message>
        <source>Installation failed</source>
        <translation>Aktualizacja nie powiodła się</translation>
    </message>
    <message>
        <source>Please reinstall application with package from official web page</source>
        <translation>Prosze pobrać i zainstalować vemo ze strony https://www.vemo.example/</translation>
    </message>
    <message>
        <source>Copy error: %1 (%2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wrong project!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wrong name!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wrong type!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot create file %1 (%2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot extract update file (%1)!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot copy file %1 to %2!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot read file from archive!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot download package %1: the server answered %2 %3.</source>
        <translation>Nie można pobrać pakietu %1: serwer odpowiedział %2 %3.</translation>
    </message>
    <message>
        <source>Cannot download package %1: its address %2 is not a valid package address.</source>
        <translation>Nie można pobrać pakietu %1: adres %2 nie jest poprawnym adresem pakietu.</translation>
    </message>
    <message>
        <source>Cannot use the work directory %1: %2</source>
        <translation>Nie można użyć katalogu roboczego %1: %2</translation>
    </message>
    <message>
        <source>Cannot create the work directory %1: %2</source>
        <translation>Nie można utworzyć katalogu roboczego %1: %2</translation>
    </message>
    <message>
        <source>The work directory %1 is not a directory. Remove it and start the update again.</source>
        <translation>Katalog roboczy %1 nie jest katalogiem. Usuń go i uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>The work directory %1 belongs to another user. Remove it, or set TMPDIR to a directory of your own, and start the update again.</source>
        <translation>Katalog roboczy %1 należy do innego użytkownika. Usuń go albo ustaw TMPDIR na własny katalog i uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>The work directory %1 can be changed by other users. Remove it, or set TMPDIR to a directory of your own, and start the update again.</source>
        <translation>Katalog roboczy %1 mogą zmieniać inni użytkownicy. Usuń go albo ustaw TMPDIR na własny katalog i uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>Invalid package name &quot;%1&quot;!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot find the folder to install package %1 into!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Invalid file name in update archive: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot write file %1 (%2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Damaged file in update archive: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot back up file %1 to %2!</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
