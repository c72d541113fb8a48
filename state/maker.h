// The maker's name on the banner and the web address that ends every log header.
#ifndef MAKER_H
#define MAKER_H

#define SCANSTATION_MAKER_NAME "KIREL"
#define SCANSTATION_MAKER_WEB "www.kirel.example"

#endif // MAKER_H
