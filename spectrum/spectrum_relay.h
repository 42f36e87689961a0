#pragma once
// Who tells the window of a new spectrum. While a take captures, the
// recording thread asks for repaints every few hundredths of a second
// anyway, and a new spectrum rides along with the next of them: a message of
// the worker's own would wake the window thread once more for every
// analysis. At any other time the worker tells the window itself.

// Spectrum worker: spectrumBuffer and dominantFreqHz hold a new analysis.
void announceSpectrum();

// Recording thread: it relays new spectra from now on (true), or no longer
// (false); a spectrum not relayed yet is then announced at once.
void relaySpectra(bool relaying);

// Recording thread, while it relays: true once for each new spectrum.
bool takeNewSpectrum();
