#include "ui/help_pages.h"

namespace tamaril::ui {
namespace {

// Every section a window's help points to starts with a heading holding a named anchor, which
// both the program's help browser and a web browser scroll to.

constexpr const char* kMainWindow = R"html(
<h1>Hlavní okno</h1>
<p>Hlavní okno drží dva seznamy definic: na záložce <b>Definice importů</b> definice, podle nichž
centrum přijímá archivy klientů, na záložce <b>Definice exportů</b> definice, podle nichž klient
posílá data do centra. Jedno místo může mít oba druhy. Každá definice je spárována s protějškem
stejnou <i>identifikací přenosu</i>.</p>
<h2 id="actions"><a name="actions">Příkazy</a></h2>
<table border="1" cellspacing="0" cellpadding="3">
<tr><th>Příkaz</th><th>Klávesa</th><th>Co dělá</th></tr>
<tr><td>Nová definice</td><td>F2</td><td>Přidá definici do seznamu na aktivní záložce
(<a href="definitions.html">okno definice</a>).</td></tr>
<tr><td>Upravit definici</td><td>F4</td><td>Otevře vybranou definici; totéž dvojklik v seznamu.</td></tr>
<tr><td>Odstranit definici</td><td>F3</td><td>Po potvrzení (Ano) definici odstraní.</td></tr>
<tr><td>Nastavení programu</td><td></td><td>Složky, log soubor, klíč místa
(<a href="settings.html">nastavení</a>).</td></tr>
<tr><td>Informace o položce</td><td>F9</td><td>Připojí se k databázi definice, zjistí její strukturu,
ověří připravenost a otevře <a href="rules.html">pravidla tabulek</a> a historii přenosů.</td></tr>
<tr><td>Provést export</td><td>F5</td><td>Jen na záložce exportů: vytvoří přenosový archiv
vybrané definice (<a href="runs.html#export">export</a>).</td></tr>
<tr><td>Provést import</td><td>F6</td><td>Jen na záložce importů: naimportuje všechny archivy
složky pro import, ať je vybrána kterákoli definice (<a href="runs.html#import">import</a>).</td></tr>
<tr><td>Obsah</td><td></td><td>Tato nápověda.</td></tr>
<tr><td>O aplikaci...</td><td></td><td>Verze programu a kontakty.</td></tr>
<tr><td>Konec</td><td>Alt+X</td><td>Uloží seznamy definic a ukončí program.</td></tr>
</table>
<p>Záložka <b>Stav poboček</b> ukazuje u každé definice importu poslední přijatý přenos, čísla
exportů, která nikdy nedorazila, archivy čekající ve složce pro import a pobočky dlouho bez
přenosu; u každé definice exportu poslední export a zda jeho archiv ještě čeká ve složce pro
export. Totéž vypíše <code>tamaril-cli status</code>.</p>
<p>Příkazy, které v dané chvíli nelze použít, jsou zašedlé: s prázdným seznamem lze jen přidat
definici nebo změnit nastavení, během úprav definice je seznam uzamčen. Klávesa <b>F1</b> v každém
okně otevře nápovědu k tomuto oknu.</p>
<h2 id="files"><a name="files">Soubory programu</a></h2>
<p>Seznamy definic jsou v souborech EXPORT.DAT a IMPORT.DAT, nastavení v tamaril.ini, vše ve
složce programu (nebo ve složce zadané parametrem <code>--home</code>). Připojovací řetězce jsou
v seznamech uloženy zakódované. Seznamy se zapisují před každým během a při ukončení programu.</p>
)html";

constexpr const char* kDefinitions = R"html(
<h1>Definice exportu a importu</h1>
<p>Okno <b>Definice exportu</b> nebo <b>Definice importu</b> upravuje hlavičku jedné definice.
Pravidla jednotlivých tabulek se nastavují zvlášť příkazem
<a href="rules.html">Informace o položce</a>.</p>
<h2 id="fields"><a name="fields">Pole</a></h2>
<ul>
<li><b>Identifikace přenosu</b> (nejvýše 10 znaků, povinná): spojuje export klienta s importem
v centru; obě definice musí mít stejnou identifikaci. V jednom seznamu smí být každá jen jednou.
Archiv exportu se jmenuje podle ní (například <code>PRAHA.ZR2</code>).</li>
<li><b>Název centra</b> / <b>Název klienta</b>: jméno protějšku, jak se zobrazuje v seznamu
a v titulcích oken.</li>
<li><b>Připojovací řetězec ADO</b> (povinný): kudy se program připojí k databázi. Heslo je v poli
skryto tečkami; tlačítko <b>Zobrazit heslo</b> ho ukáže. Upravíte-li řetězec se skrytým heslem,
heslo zůstane zachováno; přepíšete-li tečky, platí nové heslo.</li>
<li><b>Databáze pro export</b> / <b>Databáze pro import</b> (povinná): při vstupu do pole se
nabídne seznam databází serveru. Nepodaří-li se připojit, lze název napsat.</li>
<li><b>Poznámka</b>: libovolný text.</li>
<li><b>Texty v archivu</b> (jen export): Windows-1250 přečte každé centrum; Unicode přenese
každý znak, ale přečte ho jen centrum s touto verzí programu.</li>
<li><b>Klíč klienta</b> (import) vyžaduje platný podpis archivu tímto klíčem;
<b>Šifrovat pro klíč centra</b> (export) zašifruje archiv tak, aby ho otevřelo jen centrum.
Veřejný klíč místa najdete v <a href="settings.html#key">nastavení</a>.</li>
</ul>
<p><b>OK</b> definici uloží. Chybí-li identifikace přenosu, připojovací řetězec nebo databáze,
program řekne, co chybí, přesune kurzor do pole a nic neuloží. <b>Storno</b> úpravy zahodí.</p>
<h2 id="connection"><a name="connection">Připojovací řetězec</a></h2>
<p>Tlačítko <b>Vytvořit...</b> otevře okno <b>Připojovací řetězec</b>:</p>
<ul>
<li><b>Microsoft SQL Server</b>: server (případně <code>SERVER\INSTANCE</code>), port (prázdný
znamená 1433), přihlášení účtem operačního systému nebo uživatelské jméno a heslo
(<b>Zobrazit heslo</b> ho ukáže), výchozí databáze.</li>
<li><b>SQLite</b>: složka, v níž je každá databáze souborem <code>JMÉNO.db</code>.</li>
</ul>
<p><b>Vyzkoušet připojení</b> se k serveru připojí a řekne výsledek. Hodnoty nesmějí obsahovat
středník ani začínat či končit mezerou.</p>
<h2 id="login"><a name="login">Přihlášení k serveru</a></h2>
<p>Neobsahuje-li připojovací řetězec heslo, program se při prvním připojení zeptá na uživatelské
jméno a heslo. Úspěšné přihlášení si pamatuje do ukončení programu; nikam ho nezapisuje.</p>
)html";

constexpr const char* kSettings = R"html(
<h1>Nastavení programu</h1>
<p>Okno <b>Nastavení programu</b> upravuje soubor tamaril.ini ve složce programu. Uloží se jen
tlačítkem <b>OK</b>; <b>Storno</b> nemění nic, ani když jste mezitím procházeli složky.</p>
<h2 id="folders"><a name="folders">Složky a log</a></h2>
<ul>
<li><b>Složka pro exportované přenosové soubory</b>: sem export zapisuje archivy
<code>IDENTIFIKACE.ZR2</code>; nahrazený archiv ponechá jako
<code>IDENTIFIKACE-EXPORTNO.ZR2.bak</code>.</li>
<li><b>Složka pro importované přenosové soubory</b>: odtud import čte všechny archivy
<code>*.ZR2</code>.</li>
<li><b>Složka zpracovaných archivů</b>: sem import přesune každý archiv, jehož import byl
potvrzen. Prázdná znamená, že archivy zůstávají ve složce pro import (a příští import je odmítne
jako už importované). Stejnou složku použije <code>tamaril-cli import</code>, není-li zadána volba
<code>--done-folder</code>; v souboru tamaril.ini je to klíč <code>DONEFLDR</code> oddílu PATHS.</li>
<li><b>Log soubor</b> a <b>Zapisovat průběh importu do log souboru</b>: import zapisuje každý
krok s datem a časem.</li>
</ul>
<p>Tlačítka <b>Procházet...</b> otevřou výběr složky nebo souboru. Neexistuje-li zadaná složka,
program se při OK zeptá, zda ji má vytvořit.</p>
<h2 id="key"><a name="key">Klíč tohoto místa</a></h2>
<p>Klíč slouží k podepisování a šifrování archivů. <b>Vytvořit klíč</b> ho vytvoří (tajná část
zůstane v souboru, který čte jen jeho vlastník, a nikde se nezobrazuje). Veřejný klíč
<b>Kopírovat</b> a předejte partnerovi: centrum ho zapíše jako klíč klienta, klient jako klíč
centra.</p>
)html";

constexpr const char* kRuns = R"html(
<h1>Export a import</h1>
<p>Export a import běží v samostatném okně, které po dobu běhu blokuje hlavní okno. Tlačítko
<b>Storno</b> (nebo Esc či zavření okna) se nejprve zeptá, zda běh opravdu přerušit; po skončení
běhu se tlačítko jmenuje <b>Zavřít</b>.</p>
<h2 id="export"><a name="export">Export</a></h2>
<p>Export se připojí k databázi vybrané definice, ověří její připravenost a tabulku po tabulce
(hlavní tabulky před podřízenými) vybere záznamy, které splňují pravidlo exportu tabulky, spolu se
záznamy evidovanými jako smazané. Zapíše je do archivu <code>IDENTIFIKACE.ZR2</code> ve složce pro
export a běh zaznamená do tabulek <code>rep_XPORTLOG</code> a <code>rep_XPORTLOGDETAIL</code>.
Archiv se objeví až po úspěšném zápisu záznamu o běhu; přerušený nebo chybný export nezanechá
archiv ani záznam.</p>
<p>Nelze-li některý text zapsat ve Windows-1250, program se zeptá, zda ho přenést s otazníky
(výchozí odpověď je Ne). Pak archiv přeneste k centru libovolnou cestou.</p>
<h2 id="import"><a name="import">Import</a></h2>
<p>Import zpracuje všechny archivy složky pro import, archivy jedné identifikace v pořadí jejich
čísel exportu. U každého archivu:</p>
<ol>
<li>ověří hlavičku a najde definici importu se stejnou identifikací;</li>
<li>připojí se k databázi a ověří její připravenost;</li>
<li>nabídne zálohu databáze: <b>Ano</b>, <b>Ano všem</b>, <b>Ne</b>, <b>Ne všem</b>, <b>Přerušit</b>;</li>
<li>v jedné transakci sloučí záznamy podle pravidel přidání, aktualizace a výmazu; řádky, které
pravidla odmítnou nebo jimž chybí hlavní záznam, jdou do <a href="conflicts.html">seznamu
konfliktů</a>;</li>
<li>po potvrzení transakce zapíše běh do <code>rep_IMPORTLOG</code> a přesune archiv do
<a href="settings.html#folders">složky zpracovaných archivů</a>, je-li nastavena.</li>
</ol>
<p>Archiv poškozený, neznámé identifikace nebo s číslem exportu, které už bylo importováno, je
odmítnut a zůstane ve složce. Selže-li import archivu, jeho změny se vrátí a další archivy stejné
identifikace se přeskočí. Okno ukazuje počty zpracovaných, duplicitních, přidaných,
aktualizovaných, smazaných a ignorovaných záznamů a konfliktů za archiv i za celý běh.</p>
<p>Nepodařilo-li se změny archivu spolehlivě vrátit, program při zavření okna nabídne obnovu
databáze ze zálohy.</p>
<h2 id="analysis"><a name="analysis">Analýza struktury</a></h2>
<p>Při prvním použití databáze program zjistí její tabulky, klíče a vazby. Okno analýzy ukazuje
postup; Storno analýzu přeruší. Zjištěná struktura se pamatuje do ukončení programu.</p>
)html";

constexpr const char* kConflicts = R"html(
<h1>Seznam konfliktů</h1>
<p>Okno <b>Chyby při přenosu</b> otevře tlačítko <b>Zobrazit seznam konfliktů</b> v okně importu.
Konflikty jsou seskupeny podle zprávy, archivu a databáze. Konflikt je řádek archivu, který import
nezapsal: pravidlo přidání nebo aktualizace ho odmítlo, chybí mu hlavní záznam, nebo mu v cílové
tabulce odpovídá víc řádků.</p>
<ul>
<li>Vyberte skupinu a stiskněte <b>Zobrazit záznam</b>: okno <b>Konfliktní záznam</b> ukáže
řádky skupiny v tabulce se všemi sloupci, jak přišly v archivu.</li>
<li>Konflikty archivu, jehož import byl vrácen, v databázi nejsou; seznam je tak označuje.</li>
</ul>
<p>Typické řešení: upravte pravidla tabulky (<a href="rules.html">pravidla</a>) nebo doplňte
chybějící hlavní záznamy a archiv naimportujte znovu s volbou opakovaného importu.</p>
)html";

constexpr const char* kRules = R"html(
<h1>Pravidla tabulek a historie přenosů</h1>
<p>Okno <b>Nastavení exportu do centra …</b> nebo <b>Nastavení importu od klienta …</b> otevře
příkaz <b>Informace o položce</b> (F9). Pravidla i historie jsou uloženy v tabulkách
<code>rep_</code> v databázi definice.</p>
<h2 id="history"><a name="history">Přehled provedených exportů a importů</a></h2>
<p>Seznam proběhlých běhů s datem, číslem a počty záznamů; pod ním <b>Data přenesená ve
vybraném exportu</b> (importu), tedy počty po tabulkách. <b>Vymazat záznam</b> odstraní
vybraný běh z historie.</p>
<h2 id="export"><a name="export">Pravidla exportu</a></h2>
<p>Na stránce <b>Exportované tabulky</b> má každá evidence (tabulka) <b>Pravidlo exportu pro
zvolenou evidenci</b>: výraz, který pro každý řádek tabulky říká, zda se exportuje. Prázdné
pravidlo znamená, že se tabulka neexportuje. Například <code>ANO</code> exportuje vše,
<code>rep_Date_Updated &gt; @LASTXPRT</code> jen řádky změněné od posledního exportu.</p>
<h2 id="import"><a name="import">Pravidla importu</a></h2>
<p>Na stránce <b>Importované tabulky</b> má každá evidence čtyři pravidla:</p>
<ul>
<li><b>Přidání záznamu</b>: zda se přidá řádek, který v cíli není.</li>
<li><b>Oprava záznamu</b>: zda se existující řádek přepíše; hodnoty cílového řádku jsou
v identifikátorech <code>@IMP_SLOUPEC</code>.</li>
<li><b>Oprava pole záznamu</b>: pro každý sloupec zvlášť (<code>@UPDFLD</code> je jeho jméno),
zda se má přepsat.</li>
<li><b>Odstranění záznamu</b>: zda se smaže řádek smazaný u klienta (<code>@DEL_SLOUPEC</code>).</li>
</ul>
<p>Řádky se ukládají navigátorem nad pravidly (první, předchozí, další, poslední, vložit, smazat,
upravit, uložit, zrušit, obnovit). Pravidlo, které nelze přeložit, se neuloží: program ukáže
chybu a kurzor zůstane v pravidle. <b>Použít poslední nastavená pravidla</b> převezme pravidla
naposledy uložená u jiné tabulky; <b>Nastavit jako výchozí</b> je nabídne dalším definicím této
databáze. Při zavření okno upozorní na hlavní tabulku bez pravidla, jejíž podřízená tabulka
pravidlo má.</p>
<h2 id="builder"><a name="builder">Tvůrce výrazů</a></h2>
<p><b>Vytvořit pravidlo</b> otevře <b>Tvůrce výrazů</b>: vlevo <b>Skupiny operací</b> (pole
tabulky, identifikátory běhu, <a href="functions.html">funkce a operátory</a>), vpravo jejich
<b>Funkce</b>. <b>Použít</b> nebo dvojklik vloží položku na místo kurzoru ve <b>Výrazu</b>;
<b>Test</b> ověří syntaxi a typ výsledku (pravidlo musí dávat logickou hodnotu);
<b>Nápověda</b> otevře popis vybrané funkce.</p>
<p>Identifikátory běhu: <code>@SIGNATURE</code> (identifikace přenosu), <code>@LASTXPRT</code>
(datum posledního exportu tabulky), <code>@LASTIMPRT</code> (datum posledního importu).</p>
)html";

constexpr const char* kSetup = R"html(
<h1>Příprava databáze</h1>
<p>Databáze, která se replikuje, potřebuje objekty <code>rep_</code>: tabulky pravidel a logů
(<code>rep_DEFEXPORT</code>, <code>rep_DEFIMPORT</code>, <code>rep_XPORTLOG</code>,
<code>rep_IMPORTLOG</code>, <code>rep_DELETED</code>, <code>rep_TBLDESC</code> a další), v každé
replikované tabulce sloupce <code>rep_Date_Inserted</code>, <code>rep_Signature_Inserted</code>,
<code>rep_Date_Updated</code>, <code>rep_Signature_Updated</code> a spouště, které je vyplňují
a evidují smazané řádky.</p>
<h2 id="script"><a name="script">Skript hint.sql</a></h2>
<p>Skript vytvoří <code>tamaril-cli setup-script --export|--import IDENTIFIKACE</code> do složky
programu. Tabulky, které se replikovat nemají, zapište do souboru <code>ignore.txt</code> ve složce
programu, jednu na řádek. U SQL Serveru skript spustí správce nástrojem pro dotazy (vytvoří i
procedury zálohy v databázi master); u SQLite ho provede volba <code>--apply</code> v jedné
transakci. Po změně schématu skript spusťte znovu; druhé spuštění nic nemění.</p>
<h2 id="check"><a name="check">Připravenost</a></h2>
<p>Před každým během a při příkazu Informace o položce program ověří, že databáze má všechny
potřebné objekty. Chybí-li některý, řekne který. <code>tamaril-cli check</code> vypíše totéž
a navíc upozornění (tabulky bez identifikace řádků, chybějící indexy, znaky mimo Windows-1250).</p>
)html";

constexpr const char* kCli = R"html(
<h1>Program tamaril-cli</h1>
<p>Stejný stroj pro skripty a plánované přenosy. Sdílí s tímto programem nastavení tamaril.ini
i seznamy definic. Společné volby: <code>--home SLOŽKA</code> (složka programu),
<code>--common SOUBOR</code> (sdílené hodnoty), <code>--version</code>, <code>--help</code>
u programu i u každého příkazu.</p>
<h2 id="commands"><a name="commands">Příkazy</a></h2>
<table border="1" cellspacing="0" cellpadding="3">
<tr><td><code>settings [--set KLÍČ=HODNOTA]</code></td><td>vypíše nebo změní nastavení</td></tr>
<tr><td><code>defs list|show|add|edit|remove</code></td><td>seznamy definic; <code>defs show</code>
skryje heslo, není-li zadáno <code>--show-password</code></td></tr>
<tr><td><code>export IDENTIFIKACE</code></td><td>export jedné definice</td></tr>
<tr><td><code>import [--backup ask|yes|no|all|none] [--restore ask|yes|no] [--done-folder SLOŽKA]
[--reimport] [--verbose]</code></td><td>import všech archivů složky pro import; bez
<code>--done-folder</code> platí složka zpracovaných archivů z nastavení</td></tr>
<tr><td><code>status</code></td><td>stav každé pobočky a každého exportu</td></tr>
<tr><td><code>check --export|--import IDENTIFIKACE</code></td><td>připravenost databáze</td></tr>
<tr><td><code>setup-script --export|--import IDENTIFIKACE [--apply]</code></td><td>skript hint.sql</td></tr>
<tr><td><code>rules</code>, <code>history</code></td><td>pravidla tabulek a historie běhů</td></tr>
<tr><td><code>eval</code>, <code>functions</code></td><td>vyhodnocení výrazu, seznam funkcí</td></tr>
<tr><td><code>archive dump SOUBOR</code></td><td>obsah přenosového archivu</td></tr>
<tr><td><code>structure</code>, <code>memtable dump</code>, <code>log</code>, <code>keys</code></td>
<td>struktura databáze, soubor seznamu, log importu, klíče místa</td></tr>
<tr><td><code>demo SLOŽKA</code></td><td>ukázková replikace mezi dvěma databázemi SQLite</td></tr>
</table>
<p>Bez terminálu se otázky musí zodpovědět volbami (například <code>--backup no</code>); jinak
příkaz skončí bez změn se stavem 2.</p>
<h2 id="exit"><a name="exit">Návratové kódy</a></h2>
<table border="1" cellspacing="0" cellpadding="3">
<tr><th>Kód</th><th>Význam</th></tr>
<tr><td>0</td><td>úspěch</td></tr>
<tr><td>1</td><td>chyba; zpráva je na standardním chybovém výstupu (také databáze, která není
připravena, nebo archiv, jehož import selhal či byl odmítnut jako poškozený nebo neznámý)</td></tr>
<tr><td>2</td><td>přerušeno nebo odmítnuto uživatelem, případně otázka bez terminálu</td></tr>
<tr><td>3</td><td>dokončeno s upozorněními: konflikty, archivy už importované, texty přenesené
s otazníky, pobočka dlouho bez přenosu</td></tr>
</table>
)html";

}  // namespace

const std::vector<tWrittenHelpPage>& WrittenHelpPages() {
  static const std::vector<tWrittenHelpPage> pages = {
      {"main_window.html", "Hlavní okno", kMainWindow},
      {"definitions.html", "Definice exportu a importu", kDefinitions},
      {"settings.html", "Nastavení programu", kSettings},
      {"runs.html", "Export a import", kRuns},
      {"conflicts.html", "Seznam konfliktů", kConflicts},
      {"rules.html", "Pravidla tabulek a historie přenosů", kRules},
      {"setup.html", "Příprava databáze", kSetup},
      {"cli.html", "Program tamaril-cli a návratové kódy", kCli},
  };
  return pages;
}

}  // namespace tamaril::ui
