#pragma once

namespace tollavar {

// Where a conversion run stands when it fails. Each stage's number follows "Line # " in the failure
// report, where users and support know it from: a stage never changes its number.
enum class RunStage : short
{
    Starting = 1,           // checking the lists, creating the XML folder
    WaitingForXml = 2,      // another program holds DATAGRP.XML
    ReadingExistingXml = 3, // reading and parsing an existing DATAGRP.XML
    ReopeningXml = 4,       // holding the existing DATAGRP.XML for appending
    XmlHeld = 5,            // the existing DATAGRP.XML is held
    CreatingXml = 6,        // creating an empty DATAGRP.XML and holding it
    ChoosingHeader = 7,     // between a new header and the existing document
    BuildingHeader = 8,     // the header and field declarations of a new document
    LocatingDocuments = 9,  // DOCUMENTS and the last DOCID of an existing document
    OpeningIndexFile = 10,
    ReadingFirstLine = 11, // skipping the header line, preparing the placement
    LineRead = 12,         // a line and its DOCID
    WritingField = 13,     // the field before a delimiter
    NextCharacter = 15,    // after a field, scanning on (14 never occurred)
    WritingLastField = 16,
    PlacingImage = 17, // the line's image and full-text file
    ClosingXml = 18,
    SavingXml = 19,
    CheckingMaxFiles = 20,
    Succeeded = 21,
    Leaving = 22,
};

constexpr int stageNumber(RunStage stage)
{
    return static_cast<int>(stage);
}

// From the moment DATAGRP.XML is held until its save, a failure leaves a file the run has changed or
// was about to change: it is let go, and its earlier text is offered back. Before that nothing was
// touched; after it the documents are saved and the failure is the run's own bookkeeping.
constexpr bool failureOffersUndo(RunStage stage)
{
    return stage >= RunStage::ReopeningXml && stage <= RunStage::SavingXml;
}

} // namespace tollavar
