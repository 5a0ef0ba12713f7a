// The texts of the about box, the suggested citation and the help menu, in one place: who makes
// Tarvio, where users reach the team, and how to cite the database. The addresses themselves
// live in tvcontact.h.
#pragma once

#include "kxstring.h"
#include "tvappstate.h"
#include "tvcontact.h"

inline constexpr const char* TvProductName = "Tarvio";

// ---- About box ----

inline constexpr const char* TvAboutCaption = "About Tarvio";
// "Tarvio " followed by ProgramVersion.
inline KxString TvAboutVersionLine() {
    KxString line;
    line << TvProductName << " " << ProgramVersion;
    return line;
}
// The in-house record-file library and its version.
inline constexpr const char* TvAboutLibraryLine = "Kestrix  5.44";

inline constexpr const char* TvAboutInformationHeading = "Additional Information:";
inline constexpr const char* TvAboutEmailIntro =
    "For questions about missing or new drugs or regimens, email: ";
// Introduces the first link, the web site (TvWebSite).
inline constexpr const char* TvAboutWebSiteIntro =
    "For drug information and coding notes from the Tarvio project, visit the Tarvio web site: ";
inline constexpr const char* TvAboutTrainingIntro =
    "For more information about how various types of drugs work against cancer, visit the "
    "Tarvio training pages, ";
inline constexpr const char* TvTrainingPage = "https://tarvio.example.org/training/";
// The update sentence, with the download page (TvDownloadPage) where its link label lies over
// it.
inline KxString TvAboutUpdateSentence() {
    KxString sentence;
    sentence << "Tarvio will be updated every six (6) months with a new database.  Please go to "
             << TvDownloadPage << " to check for the latest version";
    return sentence;
}

// The credits: each heading with the lines credited under it.
inline constexpr const char* TvAboutTeamHeading = "Tarvio Project Team:";
struct TvCreditRow {
    const char* heading;
    const char* lines[2];  // the second may be null
};
inline constexpr TvCreditRow TvAboutCredits[] = {
    {"Concept:", {"The Tarvio project team", nullptr}},
    {"Programming:", {"The Tarvio developers", nullptr}},
    {"Consultants:",
     {"Cancer registrars of the Tarvio user community,",
      "who review the drug and regimen records"}},
};

// The link failures.
inline constexpr const char* TvCannotSendEmail = "Cannot send email.";
inline constexpr const char* TvCannotOpenBrowser =
    "Cannot open Internet browser to view Tarvio Web site.";
inline constexpr const char* TvLinkErrorCaption = "Error";

// ---- Suggested citation ----

inline constexpr const char* TvCitationCaption = "Suggested Citation";
inline constexpr const char* TvCitationHeading = "Suggested citation for Tarvio:  ";
// Who publishes the database and its web address in brackets; who maintains it.
inline constexpr const char* TvCitationPublisher = "The Tarvio Project";
inline constexpr const char* TvCitationMaintainer =
    "Maintained by the Tarvio project team, drug and regimen data group.";

// The publisher with the web site in brackets, the database with its version and release date,
// then the maintainer: "The Tarvio Project [https://...], Tarvio Antineoplastic Drug Database,
// version 1.2.0, release date 09-14-2007.  Maintained by ...".
inline KxString TvCitationText() {
    KxString text;
    text << TvCitationPublisher << " [" << TvWebSite << "], "
         << "Tarvio Antineoplastic Drug Database, version " << ProgramVersion << ", release date "
         << DatabaseUpdateDate << ".  " << TvCitationMaintainer;
    return text;
}

// ---- Help ----

// The one topic the help menus open, a page of the help/ folder beside the program.
inline constexpr const char* TvHelpTopic = "Introduction_to_Tarvio";
inline constexpr const char* TvHelpSubdirectory = "help/";
inline constexpr const char* TvHelpPageExtension = ".html";
inline constexpr const char* TvHelpWindowTitle = "Tarvio Help";
inline constexpr const char* TvHelpErrorCaption = "Tarvio Help Error";
inline constexpr const char* TvHelpNotFound = "The Tarvio Help file was not found.";
