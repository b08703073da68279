"""Published values for the fixed square cylinder at Re of about 22,000 that
the plots and the grid-study table mark (docs/validation.md gives the sources
and the comparison).

- Lyn, Einav, Rodi and Park, J. Fluid Mech. 304 (1995): laser-Doppler
  measurements at Re = 21,400, 7 % blockage, about 2 % inflow turbulence.
  Mean recirculation length 0.88 D behind the rear face, as tabulated in the
  LES workshop summary of Rodi, Ferziger, Breuer and Pourquie, J. Fluids Eng.
  119 (1997); the mean centre-line velocity recovers towards about 0.6 Vin a
  few D downstream.  The centre-line points (x from the cylinder's centre)
  come from a public digitisation of the paper's figure, not from the paper.
- Trias, Gorobets and Oliva, Comput. Fluids (2015): DNS at Re = 22,000,
  span pi D, about 80 shedding cycles.
- Sohankar, Davidson and Norberg (2000): LES at Re = 22,000.
- Norberg: experiment at Re = 1.3 x 10^4.
- Rms lift: simulations give 1.2 to 1.7; the experiments tabulated by Rodi
  et al. (1997) 0.7 to 1.3.
- Lee, J. Fluid Mech. 69 (1975) and Bearman and Obasaju, J. Fluid Mech. 119
  (1982), surface pressures in smooth flow at Re of a few 10^4: mean base
  pressure coefficient about -1.3 to -1.6.

None of these were re-read from the papers for this program: every value is
quoted second-hand, as commonly cited, and is marked so ("second_hand").
"""

# Lyn et al. 1995, mean centre-line U / Vin at (x - xc) / D, from a public
# digitisation (second-hand).
LYN_CENTRE_LINE = ((0.98, 1.34, 1.52, 2.02, 2.49, 3.0, 3.98, 5.0, 5.95, 6.75, 7.96),
                   (-0.18, -0.007, 0.086, 0.35, 0.50, 0.55, 0.58, 0.61, 0.60, 0.63, 0.63))

REFERENCES = {
    "lyn1995": {"label": "Lyn et al. 1995, Re 21,400", "Lr": 0.88,
                "recovery": (0.6, 4.0, 8.0),   # U/Vin, from and to (x - xc)/D
                "centre_line": LYN_CENTRE_LINE,
                "centre_line_label": "Lyn et al. 1995 (digitised, second-hand)"},
    "base": {"label": "Lee 1975; Bearman & Obasaju 1982: Cpb", "rear": (-1.6, -1.3)},
}

# Reference rows of the grid-study table.  A value is a number or a range
# (low, high); the quantities are those of ``gridstudy.SCALARS``, and "u"
# the centre-line velocity at the x / D of LYN_CENTRE_LINE.
STUDY_REFERENCES = (
    {"label": "Trias, Gorobets & Oliva 2015, DNS", "kind": "DNS",
     "st": 0.132, "cd": 2.18, "second_hand": True},
    {"label": "Sohankar, Davidson & Norberg 2000, LES", "kind": "LES",
     "st": 0.132, "cd": 2.32, "cl_rms": 1.54, "second_hand": True},
    {"label": "Norberg, experiment at Re 1.3e4", "kind": "experiment",
     "st": 0.132, "cd": 2.16, "second_hand": True},
    {"label": "Lyn et al. 1995, experiment at Re 21,400", "kind": "experiment",
     "st": 0.132, "lr": 0.88, "u": LYN_CENTRE_LINE[1], "second_hand": True},
    {"label": "simulations (range)", "kind": "LES", "cl_rms": (1.2, 1.7), "second_hand": True},
    {"label": "experiments, after Rodi et al. 1997 (range)", "kind": "experiment",
     "cl_rms": (0.7, 1.3), "second_hand": True},
    {"label": "Lee 1975; Bearman & Obasaju 1982 (range)", "kind": "experiment",
     "cpb": (-1.6, -1.3), "second_hand": True},
)
