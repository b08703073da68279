"""Published values for the fixed square cylinder at Re of about 22,000 that
the plots mark (docs/validation.md gives the sources and the comparison).

- Lyn, Einav, Rodi and Park, J. Fluid Mech. 304 (1995): laser-Doppler
  measurements at Re = 21,400, 7 % blockage, about 2 % inflow turbulence.
  Mean recirculation length 0.88 D behind the rear face, as tabulated in the
  LES workshop summary of Rodi, Ferziger, Breuer and Pourquie, J. Fluids Eng.
  119 (1997); the mean centre-line velocity recovers towards about 0.6 Vin a
  few D downstream.
- Lee, J. Fluid Mech. 69 (1975) and Bearman and Obasaju, J. Fluid Mech. 119
  (1982), surface pressures in smooth flow at Re of a few 10^4: mean base
  pressure coefficient about -1.3 to -1.6.

These are the values as commonly cited; they were not re-read from the
papers for this program.
"""

REFERENCES = {
    "lyn1995": {"label": "Lyn et al. 1995, Re 21,400", "Lr": 0.88,
                "recovery": (0.6, 4.0, 8.0)},   # U/Vin, from and to (x - xc)/D
    "base": {"label": "Lee 1975; Bearman & Obasaju 1982: Cpb", "rear": (-1.6, -1.3)},
}
