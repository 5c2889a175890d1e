# Drives "tamaril-cli functions": the lists alone and with the fields of a definition's table.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

include("${CMAKE_CURRENT_LIST_DIR}/rules_database.cmake")

# Runs the program and checks that the standard output holds every one of the texts after
# `command` (given as one ;-list).
function(expect_listing command)
  execute_process(COMMAND "${SETSID}" -w "${CLI}" --home "${home}" ${command}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "'${command}' ended with ${rc}: ${err}")
  endif()
  foreach(text IN LISTS ARGN)
    string(FIND "${out}" "${text}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "'${command}' printed\n${out}\nwithout\n${text}")
    endif()
  endforeach()
  set(out "${out}" PARENT_SCOPE)
endfunction()

expect_listing("functions"
  "CATEGORY Aritmetické funkce\n"
  "  ROUND( , ) | help QLMBASIC.HLP 11012 | ROUND(x, n):"
  "\n    ROUND(N, N) -> N\n"
  "CATEGORY Funkce pro export\n  @LASTXPRT | help - | "
  "\n    @LASTXPRT -> D\n"
  "CATEGORY Operace porovnání\n  < | help QLMBASIC.HLP 11013 | ")
string(FIND "${out}" "@LASTIMPRT" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "the export list offers the import identifier")
endif()
expect_listing("functions;--list;updatefield" "  @UPDFLD | help - | " "\n    @UPDFLD -> S\n")

# With a definition: the table's fields, grouped under its description.
expect_listing("functions;--signature;SHOP;--table;Zakaznici;--export"
  "CATEGORY Pole tabulky \"Zákazníci\"\n"
  "  DATUM_ZÁPISU | help - | Pole Datum zápisu\n    DATUM_ZÁPISU -> D\n"
  "  IDZAKAZNIK | help - | Pole IdZakaznik\n    IDZAKAZNIK -> N\n"
  "  NAZEV | help - | Pole Nazev\n    NAZEV -> S\n")
expect_listing("functions;--signature;SHOP;--table;Faktury;--import;--list;update"
  "CATEGORY Aktuální tabulka \"Faktury\"\n  CENA | help - | Pole Cena\n"
  "CATEGORY Importovaná tabulka\n  @IMP_CENA | help - | Pole Cena\n")
expect_listing("functions;--signature;SHOP;--table;PolFakt;--import;--list;delete"
  "CATEGORY \"Deleted\" tabulka\n  @DEL_DELTIME | help - | Pole DELTIME\n"
  "  @DEL_RECORDID | help - | Pole RECORDID\n    @DEL_RECORDID -> N\n"
  "CATEGORY Mazaný záznam \"Položky faktur\"\n  IDFAKTURA | help - | Pole IdFaktura\n"
  "  ZBOZI | help - | Pole Zbozi\n")

# Wrong input.
expect_error(1 "Neznámý seznam 'vse'" functions --list vse)
expect_error(1 "Seznam export patří k definici exportu" functions --signature SHOP --table Faktury --import --list export)
expect_error(1 "Seznam append patří k definici importu" functions --signature SHOP --table Faktury --export --list append)
expect_error(1 "Tabulka \"Nic\" ve struktuře databáze není" functions --signature SHOP --table Nic --export)
expect_error(1 "Volba --signature vyžaduje --table" functions --signature SHOP --export)
expect_error(1 "Volby --export a --import patří k --signature a --table" functions --export)
