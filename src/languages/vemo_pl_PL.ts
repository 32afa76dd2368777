<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pl_PL" sourcelanguage="en">
<context>
    <name>ArchiveExtractor</name>
    <message>
        <source>Unable to open update archive</source>
        <translation>Nie można otworzyć archiwum aktualizacji</translation>
    </message>
    <message>
        <source>Cannot read file from archive!</source>
        <translation>Nie można odczytać pliku z archiwum!</translation>
    </message>
    <message>
        <source>Not enough free space to unpack the update in %1: it needs %2, and %3 are free.</source>
        <translation>Za mało wolnego miejsca, aby rozpakować aktualizację w %1: potrzeba %2, a wolne jest %3.</translation>
    </message>
    <message>
        <source>Invalid file name in update archive: %1</source>
        <translation>Nieprawidłowa nazwa pliku w archiwum aktualizacji: %1</translation>
    </message>
    <message>
        <source>Cannot create file %1 (%2)</source>
        <translation>Nie można utworzyć pliku %1 (%2)</translation>
    </message>
    <message>
        <source>Cannot extract update file (%1)!</source>
        <translation>Nie można wypakować pliku aktualizacji (%1)!</translation>
    </message>
    <message>
        <source>Cannot write file %1 (%2)</source>
        <translation>Nie można zapisać pliku %1 (%2)</translation>
    </message>
    <message>
        <source>Damaged file in update archive: %1</source>
        <translation>Uszkodzony plik w archiwum aktualizacji: %1</translation>
    </message>
    <message>
        <source>File %1 in the update archive is larger than the archive says.</source>
        <translation>Plik %1 w archiwum aktualizacji jest większy, niż podaje archiwum.</translation>
    </message>
    <message>
        <source>A file name in the update archive is too long (%1 bytes, at most %2): %3</source>
        <translation>Nazwa pliku w archiwum aktualizacji jest za długa (bajtów: %1, najwyżej %2): %3</translation>
    </message>
    <message>
        <source>The update archive holds a file whose name cannot exist on this system: %1 (%2)</source>
        <translation>Archiwum aktualizacji zawiera plik o nazwie, która nie może istnieć w tym systemie: %1 (%2)</translation>
    </message>
    <message>
        <source>The update archive holds one file twice, as %1 and as %2, which this system takes for the same name</source>
        <translation>Archiwum aktualizacji zawiera ten sam plik dwukrotnie, jako %1 i jako %2, które ten system uznaje za tę samą nazwę</translation>
    </message>
</context>
<context>
    <name>BackupRecord</name>
    <message>
        <source>Cannot back up file %1 to %2!</source>
        <translation>Nie można zapisać kopii zapasowej pliku %1 jako %2!</translation>
    </message>
    <message>
        <source>Cannot create folder %1 (%2)</source>
        <translation>Nie można utworzyć folderu %1 (%2)</translation>
    </message>
</context>
<context>
    <name>DeltaPackage</name>
    <message>
        <source>Cannot read the manifest of the delta package (%1).</source>
        <translation>Nie można odczytać manifestu pakietu różnicowego (%1).</translation>
    </message>
    <message>
        <source>The manifest of the delta package is damaged: %1</source>
        <translation>Manifest pakietu różnicowego jest uszkodzony: %1</translation>
    </message>
    <message>
        <source>The patch of &quot;%1&quot; names a place outside the installation.</source>
        <translation>Łatka „%1” wskazuje miejsce poza instalacją.</translation>
    </message>
    <message>
        <source>The patch of %1 lacks valid sizes or SHA-256 digests.</source>
        <translation>Łatce %1 brakuje poprawnych rozmiarów lub skrótów SHA-256.</translation>
    </message>
    <message>
        <source>The patch of %1 is not in the package.</source>
        <translation>Łatki %1 nie ma w pakiecie.</translation>
    </message>
    <message>
        <source>The installed file %1 lies beyond a link.</source>
        <translation>Zainstalowany plik %1 leży za dowiązaniem.</translation>
    </message>
    <message>
        <source>The installed file %1 is a link that leads to no file in the installation.</source>
        <translation>Zainstalowany plik %1 jest dowiązaniem, które nie prowadzi do pliku w instalacji.</translation>
    </message>
    <message>
        <source>Cannot make a file in %1.</source>
        <translation>Nie można utworzyć pliku w %1.</translation>
    </message>
    <message>
        <source>Cannot write file %1 (%2).</source>
        <translation>Nie można zapisać pliku %1 (%2).</translation>
    </message>
    <message>
        <source>Cancelled.</source>
        <translation>Anulowano.</translation>
    </message>
    <message>
        <source>The patch of %1 names a file that cannot exist on this system (%2).</source>
        <translation>Łatka %1 wskazuje plik, który nie może istnieć w tym systemie (%2).</translation>
    </message>
</context>
<context>
    <name>DownloadStatus</name>
    <message>
        <source>%1 of %2</source>
        <translation>%1 z %2</translation>
    </message>
    <message numerus="yes">
        <source>%1 left</source>
        <translation>
            <numerusform>została %1</numerusform>
            <numerusform>zostały %1</numerusform>
            <numerusform>zostało %1</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>EngineInstallation</name>
    <message>
        <source>There is no folder to compare the delta package with.</source>
        <translation>Nie ma folderu, z którym można porównać pakiet różnicowy.</translation>
    </message>
</context>
<context>
    <name>FileInUse</name>
    <message>
        <source>The file %1 is in use by another program and cannot be replaced. Close that program and try the update again.</source>
        <translation>Plik %1 jest używany przez inny program i nie można go zastąpić. Zamknij ten program i spróbuj zaktualizować ponownie.</translation>
    </message>
    <message>
        <source>The file %1 is in use by %2 and cannot be replaced. Close %2 and try the update again.</source>
        <translation>Plik %1 jest używany przez program %2 i nie można go zastąpić. Zamknij program %2 i spróbuj zaktualizować ponownie.</translation>
    </message>
</context>
<context>
    <name>FilePatch</name>
    <message>
        <source>Cannot open the installed file %1 (%2).</source>
        <translation>Nie można otworzyć zainstalowanego pliku %1 (%2).</translation>
    </message>
    <message>
        <source>Cannot read the installed file %1 (%2).</source>
        <translation>Nie można odczytać zainstalowanego pliku %1 (%2).</translation>
    </message>
    <message>
        <source>The installed %1 is not a regular file.</source>
        <translation>Zainstalowany %1 nie jest zwykłym plikiem.</translation>
    </message>
    <message>
        <source>The installed file %1 has %2 bytes, the patch applies to %3.</source>
        <translation>Zainstalowany plik %1 ma %2 bajtów, a łatka pasuje do %3.</translation>
    </message>
    <message>
        <source>Cannot map the installed file %1 (%2).</source>
        <translation>Nie można odwzorować w pamięci zainstalowanego pliku %1 (%2).</translation>
    </message>
    <message>
        <source>The installed file %1 differs from the one the patch applies to (SHA-256 %2).</source>
        <translation>Zainstalowany plik %1 różni się od tego, do którego pasuje łatka (SHA-256 %2).</translation>
    </message>
    <message>
        <source>Cannot read the patch %1 (%2).</source>
        <translation>Nie można odczytać łatki %1 (%2).</translation>
    </message>
    <message>
        <source>The patch %1 is no zstd frame.</source>
        <translation>Łatka %1 nie jest ramką zstd.</translation>
    </message>
    <message>
        <source>The patch %1 asks for a window of %2 bytes, more than the %3 allowed for its files.</source>
        <translation>Łatka %1 wymaga okna %2 bajtów, więcej niż %3 dozwolonych dla jej plików.</translation>
    </message>
    <message>
        <source>The patch %1 can make at most %2 bytes, the manifest says %3.</source>
        <translation>Łatka %1 może dać najwyżej %2 bajtów, a manifest podaje %3.</translation>
    </message>
    <message>
        <source>The patch %1 makes %2 bytes, the manifest says %3.</source>
        <translation>Łatka %1 daje %2 bajtów, a manifest podaje %3.</translation>
    </message>
    <message>
        <source>Cannot create file %1 (%2).</source>
        <translation>Nie można utworzyć pliku %1 (%2).</translation>
    </message>
    <message>
        <source>Cannot write file %1 (%2).</source>
        <translation>Nie można zapisać pliku %1 (%2).</translation>
    </message>
    <message>
        <source>Cannot map file %1 (%2).</source>
        <translation>Nie można odwzorować w pamięci pliku %1 (%2).</translation>
    </message>
    <message>
        <source>Cannot start decoding the patch for %1.</source>
        <translation>Nie można rozpocząć dekodowania łatki dla %1.</translation>
    </message>
    <message>
        <source>The patch for %1 is cut short.</source>
        <translation>Łatka dla %1 jest ucięta.</translation>
    </message>
    <message>
        <source>Cannot read the patch for %1 (%2).</source>
        <translation>Nie można odczytać łatki dla %1 (%2).</translation>
    </message>
    <message>
        <source>The patch for %1 cannot be decoded: %2.</source>
        <translation>Nie można zdekodować łatki dla %1: %2.</translation>
    </message>
    <message>
        <source>The patch for %1 holds more than one frame.</source>
        <translation>Łatka dla %1 zawiera więcej niż jedną ramkę.</translation>
    </message>
    <message>
        <source>The patch for %1 makes %2 bytes, the manifest says %3.</source>
        <translation>Łatka dla %1 daje %2 bajtów, a manifest podaje %3.</translation>
    </message>
    <message>
        <source>The patched file %1 differs from the new version (SHA-256 %2).</source>
        <translation>Załatany plik %1 różni się od nowej wersji (SHA-256 %2).</translation>
    </message>
    <message>
        <source>Cancelled.</source>
        <translation>Anulowano.</translation>
    </message>
    <message>
        <source>The zstd library here (%1) is not the one the updater was built with (%2).</source>
        <translation>Biblioteka zstd w systemie (%1) nie jest tą, z którą zbudowano program aktualizujący (%2).</translation>
    </message>
</context>
<context>
    <name>InstallDriver</name>
    <message>
        <source>Cannot run update!</source>
        <translation>Nie można przeprowadzić aktualizacji!</translation>
    </message>
    <message>
        <source>Installing package %1:</source>
        <translation>Zainstalowano pakiet %1:</translation>
    </message>
    <message>
        <source>Failed installing package </source>
        <translation>Nie udało się zainstalować pakietu </translation>
    </message>
    <message>
        <source>Rollback update</source>
        <translation>Cofanie aktualizacji</translation>
    </message>
    <message>
        <source>An error occured while installing updates</source>
        <translation>Wystąpił błąd podczas instalowania aktualizacji</translation>
    </message>
    <message>
        <source>The update has been rolled back, but the updater cannot record that: %1

The backups of the replaced files are kept in %2. The next start of the updater puts them back once more and then removes them.</source>
        <translation>Aktualizacja została wycofana, ale program aktualizujący nie może tego zapisać: %1

Kopie zapasowe zastąpionych plików są przechowywane w %2. Przy następnym uruchomieniu program aktualizujący przywróci je jeszcze raz, a potem usunie.</translation>
    </message>
    <message>
        <source>The update has been installed, but the updater cannot record that it has finished: %1

The backups of the replaced files are kept in %2. The next start of the updater takes the update back and offers it again.</source>
        <translation>Aktualizacja została zainstalowana, ale program aktualizujący nie może zapisać, że się zakończyła: %1

Kopie zapasowe zastąpionych plików są przechowywane w %2. Przy następnym uruchomieniu program aktualizujący wycofa tę aktualizację i zaproponuje ją ponownie.</translation>
    </message>
    <message>
        <source>An error occured while rolling back update progress. Software may not work properly. Try reinstalling whole application</source>
        <translation>Wystąpił błąd podczas cofania aktualizacji. Program może nie działać poprawnie. Zalecamy ręczną instalację najnowszej wersji komunikatora Vemo ze strony https://www.vemo.example/</translation>
    </message>
    <message>
        <source>The backups of the replaced files are kept in %1. The next start of the updater tries again to put them back.</source>
        <translation>Kopie zapasowe zastąpionych plików są przechowywane w %1. Przy następnym uruchomieniu program aktualizujący ponownie spróbuje je przywrócić.</translation>
    </message>
    <message>
        <source>The update is not started again.</source>
        <translation>Aktualizacja nie zostanie uruchomiona ponownie.</translation>
    </message>
</context>
<context>
    <name>InstallJournal</name>
    <message>
        <source>Cannot write the update journal %1: %2</source>
        <translation>Nie można zapisać dziennika aktualizacji %1: %2</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>nie jest zwykłym plikiem</translation>
    </message>
    <message>
        <source>it is larger than any update writes (%1 bytes)</source>
        <translation>jest większy niż cokolwiek, co zapisuje aktualizacja (%1 bajtów)</translation>
    </message>
    <message>
        <source>line %1 is not valid: %2</source>
        <translation>wiersz %1 jest nieprawidłowy: %2</translation>
    </message>
</context>
<context>
    <name>InstallRecovery</name>
    <message>
        <source>it names %1, which is neither an installation of the messenger nor its plug-in folder</source>
        <translation>wskazuje %1, który nie jest ani instalacją komunikatora, ani jego folderem wtyczek</translation>
    </message>
    <message>
        <source>it names %1, which leads through a link</source>
        <translation>wskazuje %1, do którego droga prowadzi przez dowiązanie</translation>
    </message>
    <message>
        <source>The record of the last update, the update journal %1, is damaged: %2. Nothing has been put back automatically, so if that update was interrupted, the messenger may be left partly updated; installing the messenger again restores it.</source>
        <translation>Zapis poprzedniej aktualizacji, dziennik aktualizacji %1, jest uszkodzony: %2. Niczego nie przywrócono automatycznie, więc jeśli tamta aktualizacja została przerwana, komunikator może być zaktualizowany tylko częściowo; ponowna instalacja komunikatora przywróci go do porządku.</translation>
    </message>
    <message>
        <source>The files that update replaced are kept in %1.</source>
        <translation>Pliki zastąpione przez tamtą aktualizację są przechowywane w %1.</translation>
    </message>
    <message>
        <source>The damaged journal is kept as %1, and the next start of the updater goes on as usual.</source>
        <translation>Uszkodzony dziennik zostaje zachowany jako %1, a przy kolejnym uruchomieniu program aktualizujący zadziała jak zwykle.</translation>
    </message>
    <message>
        <source>The update journal %1 cannot be read: %2</source>
        <translation>Nie można odczytać dziennika aktualizacji %1: %2</translation>
    </message>
    <message>
        <source>the backups it names in %1 are missing</source>
        <translation>brakuje kopii zapasowych, które wskazuje w %1</translation>
    </message>
    <message>
        <source>Everything the last update had changed has been put back, but the update journal %1 cannot be closed (%2). The backups of the replaced files are kept in %3 until the next start of the updater can close it.</source>
        <translation>Wszystko, co zmieniła poprzednia aktualizacja, przywrócono, ale nie można zamknąć dziennika aktualizacji %1 (%2). Kopie zapasowe zastąpionych plików są przechowywane w %3, dopóki program aktualizujący nie zdoła go zamknąć przy kolejnym uruchomieniu.</translation>
    </message>
    <message>
        <source>The damaged journal cannot be set aside (%1). Move %2 elsewhere, then start the update again.</source>
        <translation>Uszkodzonego dziennika nie można odłożyć (%1). Przenieś %2 w inne miejsce, a następnie uruchom aktualizację ponownie.</translation>
    </message>
</context>
<context>
    <name>ManifestReader</name>
    <message>
        <source>%1 (line %2)</source>
        <translation>%1 (wiersz %2)</translation>
    </message>
</context>
<context>
    <name>PackageDownload</name>
    <message>
        <source>The proxy server %1 asks for a user name and password.</source>
        <translation>Serwer proxy %1 wymaga podania nazwy użytkownika i hasła.</translation>
    </message>
    <message>
        <source>Cannot use the proxy server %1: %2</source>
        <translation>Nie można użyć serwera proxy %1: %2</translation>
    </message>
    <message>
        <source>Cannot write the downloaded data: %1</source>
        <translation>Nie można zapisać pobranych danych: %1</translation>
    </message>
    <message>
        <source>Cannot download package %1: its address %2 is not a valid package address.</source>
        <translation>Nie można pobrać pakietu %1: adres %2 nie jest poprawnym adresem pakietu.</translation>
    </message>
    <message>
        <source>The connection was closed after %1 of %2 bytes.</source>
        <translation>Połączenie zostało zamknięte po odebraniu %1 z %2 bajtów.</translation>
    </message>
    <message>
        <source>The server did not send a valid HTTP response.</source>
        <translation>Serwer nie wysłał poprawnej odpowiedzi HTTP.</translation>
    </message>
    <message>
        <source>The server did not answer within %1 seconds.</source>
        <translation>Serwer nie odpowiedział w ciągu %1 s.</translation>
    </message>
    <message>
        <source>The download is too slow: the server sent only %1 bytes in %2 seconds.</source>
        <translation>Pobieranie jest zbyt wolne: serwer wysłał tylko %1 bajtów w ciągu %2 s.</translation>
    </message>
    <message>
        <source>Cannot download package %1: %2</source>
        <translation>Nie można pobrać pakietu %1: %2</translation>
    </message>
    <message>
        <source>Cannot download package %1: the download server gives its size as %2 bytes, the update server as %3 bytes.</source>
        <translation>Nie można pobrać pakietu %1: według serwera pobierania ma on %2 B, a według serwera aktualizacji %3 B.</translation>
    </message>
    <message>
        <source>Cannot download package %1: the server sent another part of the archive than the one asked for.</source>
        <translation>Nie można pobrać pakietu %1: serwer wysłał inną część archiwum niż ta, o którą proszono.</translation>
    </message>
    <message>
        <source>Cannot download package %1: the download server gave its size as %2 bytes and then as %3 bytes.</source>
        <translation>Nie można pobrać pakietu %1: serwer pobierania podał najpierw rozmiar %2 B, a potem %3 B.</translation>
    </message>
    <message>
        <source>The server answered %1 %2.</source>
        <translation>Serwer odpowiedział %1 %2.</translation>
    </message>
    <message>
        <source>Cannot create folder %1 for package %2.</source>
        <translation>Nie można utworzyć folderu %1 dla pakietu %2.</translation>
    </message>
    <message>
        <source>Cannot download package %1: the download server sent more than the %2 bytes announced.</source>
        <translation>Nie można pobrać pakietu %1: serwer pobierania wysłał więcej niż zapowiedziane %2 B.</translation>
    </message>
    <message>
        <source>Cannot download package %1: the download server sent %2 bytes instead of the %3 bytes announced.</source>
        <translation>Nie można pobrać pakietu %1: serwer pobierania wysłał %2 B zamiast zapowiedzianych %3 B.</translation>
    </message>
    <message>
        <source>The downloaded package %1 is not the one the update server announced: its checksum differs. Nothing was installed.</source>
        <translation>Pobrany pakiet %1 nie jest tym, który zapowiedział serwer aktualizacji: jego suma kontrolna się nie zgadza. Niczego nie zainstalowano.</translation>
    </message>
    <message>
        <source>Cannot download package %1 after %2 tries. %3</source>
        <translation>Nie można pobrać pakietu %1 mimo %2 prób. %3</translation>
    </message>
    <message>
        <source>Cannot download package %1: the server answered %2 %3.</source>
        <translation>Nie można pobrać pakietu %1: serwer odpowiedział %2 %3.</translation>
    </message>
    <message>
        <source>Cannot download package %1: the proxy server %2 asks for a user name and password.</source>
        <translation>Nie można pobrać pakietu %1: serwer proxy %2 wymaga podania nazwy użytkownika i hasła.</translation>
    </message>
    <message>
        <source>Cannot download package %1 through the proxy server %2: the answer was %3 %4.</source>
        <translation>Nie można pobrać pakietu %1 przez serwer proxy %2: odpowiedź brzmiała %3 %4.</translation>
    </message>
    <message>
        <source>Cannot save package %1 as %2: %3</source>
        <translation>Nie można zapisać pakietu %1 jako %2: %3</translation>
    </message>
</context>
<context>
    <name>PackageInstaller</name>
    <message>
        <source>Invalid package name &quot;%1&quot;!</source>
        <translation>Nieprawidłowa nazwa pakietu „%1”!</translation>
    </message>
    <message>
        <source>Cannot find the folder to install package %1 into!</source>
        <translation>Nie można znaleźć folderu, w którym ma zostać zainstalowany pakiet %1!</translation>
    </message>
    <message>
        <source>Cannot read the manifest of package %1 (%2).</source>
        <translation>Nie można odczytać manifestu pakietu %1 (%2).</translation>
    </message>
    <message>
        <source>The manifest of package %1 is damaged: %2</source>
        <translation>Manifest pakietu %1 jest uszkodzony: %2</translation>
    </message>
    <message>
        <source>Wrong project!</source>
        <translation>Nieprawidłowy projekt!</translation>
    </message>
    <message>
        <source>Wrong name!</source>
        <translation>Nieprawidłowa nazwa!</translation>
    </message>
    <message>
        <source>Wrong type!</source>
        <translation>Nieprawidłowy typ!</translation>
    </message>
    <message>
        <source>Cannot write file %1 (%2)</source>
        <translation>Nie można zapisać pliku %1 (%2)</translation>
    </message>
    <message>
        <source>Cannot copy file %1 to %2!</source>
        <translation>Nie można skopiować pliku %1 do %2!</translation>
    </message>
    <message>
        <source>Package %1 holds patches of installed files, which only a delta installation can apply.</source>
        <translation>Pakiet %1 zawiera łatki zainstalowanych plików, które może nałożyć tylko instalacja różnicowa.</translation>
    </message>
    <message>
        <source>The package %1 names a file that cannot exist on this system: %2 (%3)</source>
        <translation>Pakiet %1 wskazuje plik, który nie może istnieć w tym systemie: %2 (%3)</translation>
    </message>
    <message>
        <source>The package %1 names one file twice, as %2 and as %3, which this system takes for the same name</source>
        <translation>Pakiet %1 wskazuje ten sam plik dwukrotnie, jako %2 i jako %3, które ten system uznaje za tę samą nazwę</translation>
    </message>
</context>
<context>
    <name>Platform</name>
    <message>
        <source>%1 holds the character %2, which file names on this system cannot hold</source>
        <translation>%1 zawiera znak %2, którego nazwy plików w tym systemie nie mogą zawierać</translation>
    </message>
    <message>
        <source>the path is too long (%1 characters, at most %2)</source>
        <translation>ścieżka jest za długa (znaków: %1, najwyżej %2)</translation>
    </message>
    <message>
        <source>%1 is the name of a device on this system</source>
        <translation>%1 to nazwa urządzenia w tym systemie</translation>
    </message>
    <message>
        <source>%1 ends with a dot or a blank, which this system drops from file names</source>
        <translation>%1 kończy się kropką lub spacją, które ten system usuwa z nazw plików</translation>
    </message>
    <message>
        <source>the name %1 is too long (%2 characters, at most %3)</source>
        <translation>nazwa %1 jest za długa (znaków: %2, najwyżej %3)</translation>
    </message>
    <message>
        <source>%1 has the form of the short name this system gives a longer name</source>
        <translation>%1 ma postać krótkiej nazwy, którą ten system nadaje dłuższym nazwom</translation>
    </message>
</context>
<context>
    <name>QIODevice</name>
    <message>
        <source>No space left on device</source>
        <translation>Brak wolnego miejsca na urządzeniu</translation>
    </message>
    <message>
        <source>No such file or directory</source>
        <translation>Brak pliku lub katalogu</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>Brak uprawnień</translation>
    </message>
    <message>
        <source>Too many open files</source>
        <translation>Zbyt wiele otwartych plików</translation>
    </message>
</context>
<context>
    <name>Relocation</name>
    <message>
        <source>Copy error: %1 (%2)</source>
        <translation>Błąd kopiowania: %1 (%2)</translation>
    </message>
    <message>
        <source>Cannot run update!</source>
        <translation>Nie można przeprowadzić aktualizacji!</translation>
    </message>
</context>
<context>
    <name>RuntimeInstaller</name>
    <message>
        <source>The runtime installer %1 cannot be started (%2).</source>
        <translation>Nie można uruchomić instalatora bibliotek uruchomieniowych %1 (%2).</translation>
    </message>
    <message>
        <source>The runtime installer %1 did not finish within %2 minutes and was stopped.</source>
        <translation>Instalator bibliotek uruchomieniowych %1 nie zakończył pracy w ciągu %2 minut i został zatrzymany.</translation>
    </message>
    <message>
        <source>The runtime installer %1 crashed.</source>
        <translation>Instalator bibliotek uruchomieniowych %1 uległ awarii.</translation>
    </message>
    <message>
        <source>The runtime installer %1 failed with exit code %2.</source>
        <translation>Instalator bibliotek uruchomieniowych %1 zakończył się błędem (kod wyjścia %2).</translation>
    </message>
</context>
<context>
    <name>StartupChecks</name>
    <message>
        <source>The last update was interrupted before it finished. Everything it had changed has been put back as it was before that update.</source>
        <translation>Poprzednia aktualizacja została przerwana przed zakończeniem. Wszystko, co zmieniła, przywrócono do stanu sprzed tej aktualizacji.</translation>
    </message>
    <message>
        <source>The last update was interrupted before it finished, and not everything it had changed could be put back: %1</source>
        <translation>Poprzednia aktualizacja została przerwana przed zakończeniem i nie wszystko, co zmieniła, udało się przywrócić: %1</translation>
    </message>
    <message>
        <source>The backups of the replaced files are kept in %1. The next start of the updater tries again to put them back.</source>
        <translation>Kopie zapasowe zastąpionych plików są przechowywane w %1. Przy następnym uruchomieniu program aktualizujący ponownie spróbuje je przywrócić.</translation>
    </message>
</context>
<context>
    <name>StateDirectory</name>
    <message>
        <source>Cannot create the folder %1 for the update&apos;s records: %2</source>
        <translation>Nie można utworzyć folderu %1 na zapisy aktualizacji: %2</translation>
    </message>
    <message>
        <source>The folder %1 for the update&apos;s records is not a folder of your own that only you can change. Remove it and start the update again.</source>
        <translation>Folder %1 na zapisy aktualizacji nie jest Twoim prywatnym folderem, który tylko Ty możesz zmieniać. Usuń go i uruchom aktualizację ponownie.</translation>
    </message>
</context>
<context>
    <name>UpdateAnswer</name>
    <message>
        <source>The update server&apos;s answer says nothing about the installed components.</source>
        <translation>Odpowiedź serwera aktualizacji nie zawiera żadnych informacji o zainstalowanych składnikach.</translation>
    </message>
    <message>
        <source>The update server&apos;s answer names a component &quot;%1&quot;, which is not a valid component name.</source>
        <translation>Odpowiedź serwera aktualizacji wymienia składnik „%1”, którego nazwa jest nieprawidłowa.</translation>
    </message>
    <message>
        <source>The update server&apos;s answer gives the component %1 the unknown type &quot;%2&quot;.</source>
        <translation>Odpowiedź serwera aktualizacji przypisuje składnikowi %1 nieznany typ „%2”.</translation>
    </message>
    <message>
        <source>The update server&apos;s answer offers the component %1 twice.</source>
        <translation>Odpowiedź serwera aktualizacji dwukrotnie oferuje składnik %1.</translation>
    </message>
    <message>
        <source>The update server&apos;s answer does not give the size and checksum of the package %1.</source>
        <translation>Odpowiedź serwera aktualizacji nie podaje rozmiaru i sumy kontrolnej pakietu %1.</translation>
    </message>
    <message>
        <source>The update server&apos;s answer does not give the address, size and checksum of the delta package %1.</source>
        <translation>Odpowiedź serwera aktualizacji nie podaje adresu, rozmiaru i sumy kontrolnej pakietu różnicowego %1.</translation>
    </message>
</context>
<context>
    <name>UpdateMode</name>
    <message>
        <source>No updates available.</source>
        <translation>Brak nowych aktualizacji.</translation>
    </message>
</context>
<context>
    <name>UpdateServerConnection</name>
    <message>
        <source>Couldn&apos;t connect to update server. Check your internet connection.</source>
        <translation>Nie można nawiązać połączenia z serwerem aktualizacji. Sprawdź połączenie z internetem.</translation>
    </message>
    <message>
        <source>Couldn&apos;t connect to update server: the proxy server %1 asks for a user name and password.</source>
        <translation>Nie można nawiązać połączenia z serwerem aktualizacji: serwer proxy %1 wymaga podania nazwy użytkownika i hasła.</translation>
    </message>
    <message>
        <source>Couldn&apos;t connect to update server through the proxy server %1: %2</source>
        <translation>Nie można nawiązać połączenia z serwerem aktualizacji przez serwer proxy %1: %2</translation>
    </message>
</context>
<context>
    <name>UpdaterLock</name>
    <message>
        <source>Another update of the messenger is in progress. Wait until it has finished, then start the update again if it is still needed.</source>
        <translation>Trwa już inna aktualizacja komunikatora. Poczekaj, aż się zakończy, a następnie w razie potrzeby uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>The lock file %1 is not a regular file, so the updater cannot tell whether another update is in progress. Remove it and start the update again.</source>
        <translation>Plik blokady %1 nie jest zwykłym plikiem, więc program aktualizujący nie może sprawdzić, czy trwa inna aktualizacja. Usuń go i uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>Cannot create the lock file %1.</source>
        <translation>Nie można utworzyć pliku blokady %1.</translation>
    </message>
</context>
<context>
    <name>Updater_Changelog_MainWindow</name>
    <message>
        <source>Update</source>
        <translation>Aktualizacja</translation>
    </message>
    <message>
        <source>Vemo IM update</source>
        <translation>Aktualizacja komunikatora Vemo</translation>
    </message>
    <message>
        <source>Vemo instant messenger update is available. Do you wish to download it now?</source>
        <translation>Dostępne są aktualizacje komunikatora Vemo. Czy chcesz je teraz pobrać?</translation>
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
    <message>
        <source>Updater icon</source>
        <translation>Ikona programu aktualizującego</translation>
    </message>
    <message>
        <source>Changelog</source>
        <translation>Lista zmian</translation>
    </message>
</context>
<context>
    <name>Updater_Download_MainWindow</name>
    <message>
        <source>Update</source>
        <translation>Aktualizacja</translation>
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
    <message>
        <source>Updater icon</source>
        <translation>Ikona programu aktualizującego</translation>
    </message>
    <message>
        <source>Download progress</source>
        <translation>Postęp pobierania</translation>
    </message>
    <message>
        <source>Finding out the download size...</source>
        <translation>Ustalanie rozmiaru pobieranych plików...</translation>
    </message>
</context>
<context>
    <name>Updater_Install_MainWindow</name>
    <message>
        <source>Update</source>
        <translation>Aktualizacja</translation>
    </message>
    <message>
        <source>Vemo IM update</source>
        <translation>Aktualizacja komunikatora Vemo</translation>
    </message>
    <message>
        <source>Installing...</source>
        <translation>Instalowanie...</translation>
    </message>
    <message>
        <source>Updater icon</source>
        <translation>Ikona programu aktualizującego</translation>
    </message>
    <message>
        <source>Installation progress</source>
        <translation>Postęp instalacji</translation>
    </message>
</context>
<context>
    <name>Updater_Summary_MainWindow</name>
    <message>
        <source>Update</source>
        <translation>Aktualizacja</translation>
    </message>
    <message>
        <source>Installation complete</source>
        <translation>Aktualizacja zakończona pomyślnie</translation>
    </message>
    <message>
        <source>To complete the update process please restart Vemo instant messenger.</source>
        <translation>Aby zakończyć aktualizację, uruchom ponownie komunikator Vemo.</translation>
    </message>
    <message>
        <source>View details</source>
        <translation>Pokaż szczegóły</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Zamknij</translation>
    </message>
    <message>
        <source>Updater icon</source>
        <translation>Ikona programu aktualizującego</translation>
    </message>
    <message>
        <source>Installation log</source>
        <translation>Dziennik instalacji</translation>
    </message>
</context>
<context>
    <name>UserPrompts</name>
    <message>
        <source>Update</source>
        <comment>program update</comment>
        <translation>Aktualizacja</translation>
    </message>
    <message>
        <source>Update</source>
        <comment>installation</comment>
        <translation>Aktualizacja</translation>
    </message>
    <message>
        <source>Check updates</source>
        <translation>Sprawdzanie aktualizacji</translation>
    </message>
</context>
<context>
    <name>VemoChangelogDialog</name>
    <message>
        <source>%1, version %2</source>
        <translation>%1, wersja %2</translation>
    </message>
    <message>
        <source>Show changelog</source>
        <translation>Pokaż listę zmian</translation>
    </message>
    <message>
        <source>Hide changelog</source>
        <translation>Ukryj listę zmian</translation>
    </message>
</context>
<context>
    <name>VemoDownloadDialog</name>
    <message>
        <source>Preparing %1: %2 %</source>
        <translation>Przygotowywanie %1: %2 %</translation>
    </message>
</context>
<context>
    <name>VemoSummaryDialog</name>
    <message>
        <source>Installation failed</source>
        <translation>Aktualizacja nie powiodła się</translation>
    </message>
    <message>
        <source>Please reinstall application with package from official web page</source>
        <translation>Proszę pobrać i zainstalować Vemo ze strony https://www.vemo.example/</translation>
    </message>
    <message>
        <source>Hide details</source>
        <translation>Ukryj szczegóły</translation>
    </message>
</context>
<context>
    <name>VemoUpdaterEngine</name>
    <message>
        <source>An error occured while comunicating update server. Check your internet connection.</source>
        <translation>Wystąpił błąd podczas komunikacji z serwerem aktualizacji. Sprawdź połączenie z internetem.</translation>
    </message>
    <message>
        <source>The update server&apos;s answer could not be verified, so no updates will be installed. Someone may be interfering with your connection; try again later or from another network.</source>
        <translation>Nie udało się zweryfikować odpowiedzi serwera aktualizacji, więc żadne aktualizacje nie zostaną zainstalowane. Ktoś może ingerować w połączenie; spróbuj ponownie później lub z innej sieci.</translation>
    </message>
    <message>
        <source>Vemo did not report its installed components, so updates cannot be checked. Reinstalling Vemo may help.</source>
        <translation>Komunikator Vemo nie podał listy zainstalowanych składników, więc nie można sprawdzić aktualizacji. Może pomóc ponowna instalacja komunikatora Vemo.</translation>
    </message>
    <message>
        <source>The update server&apos;s answer is not a valid XML document.</source>
        <translation>Odpowiedź serwera aktualizacji nie jest poprawnym dokumentem XML.</translation>
    </message>
    <message>
        <source>The update server&apos;s answer is larger or more deeply nested than any answer can be (%1 MiB, %2 levels).</source>
        <translation>Odpowiedź serwera aktualizacji jest większa lub bardziej zagnieżdżona, niż może być jakakolwiek odpowiedź (%1 MiB, %2 poziomów).</translation>
    </message>
    <message>
        <source>The delta package of %1 cannot be used, so its full package is downloaded: %2</source>
        <translation>Nie można użyć pakietu różnicowego %1, więc pobierany jest jego pełny pakiet: %2</translation>
    </message>
</context>
<context>
    <name>WorkDirectory</name>
    <message>
        <source>Cannot create the work directory %1: %2</source>
        <translation>Nie można utworzyć katalogu roboczego %1: %2</translation>
    </message>
    <message>
        <source>Cannot use the work directory %1: %2</source>
        <translation>Nie można użyć katalogu roboczego %1: %2</translation>
    </message>
    <message>
        <source>The work directory %1 is not a directory. Remove it and start the update again.</source>
        <translation>Katalog roboczy %1 nie jest katalogiem. Usuń go i uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>The work directory %1 belongs to another user. Remove it, or set %2 to a directory of your own, and start the update again.</source>
        <translation>Katalog roboczy %1 należy do innego użytkownika. Usuń go albo ustaw %2 na własny katalog i uruchom aktualizację ponownie.</translation>
    </message>
    <message>
        <source>The work directory %1 can be changed by other users. Remove it, or set %2 to a directory of your own, and start the update again.</source>
        <translation>Katalog roboczy %1 mogą zmieniać inni użytkownicy. Usuń go albo ustaw %2 na własny katalog i uruchom aktualizację ponownie.</translation>
    </message>
</context>
<context>
    <name>XmlEncoding</name>
    <message>
        <source>The byte 0x%1 at offset %2 is not a character of the encoding %3.</source>
        <translation>Bajt 0x%1 na pozycji %2 nie jest znakiem kodowania %3.</translation>
    </message>
    <message>
        <source>The encoding %1 is not supported.</source>
        <translation>Kodowanie %1 nie jest obsługiwane.</translation>
    </message>
</context>
</TS>
